# The path walked, from torvane-sim's --log CSV (trunk x and y in the world, seen from above).
#   gnuplot -e "csv='walk.csv'; png='walk.png'" sim/plots/walk.gp
set datafile separator ','
set datafile missing ''
set terminal pngcairo size 700,700 font ',10'
set output png
set title 'torvane-sim: the path walked (seen from above)'
set xlabel 'x [m]'
set ylabel 'y [m]'
set size ratio -1
set grid
set key bottom right
plot csv using 2:3 with lines lw 2 lc rgb '#1f4e79' title 'trunk', \
     csv every ::1::1 using 2:3 with points pt 7 ps 1.5 lc rgb '#2e8b57' title 'start'
