# The stand-up from torvane-sim's --log CSV: trunk height above, the twelve joints' positions
# (solid) against their commanded targets (dashed) below.
#   gnuplot -e "csv='stand.csv'; png='stand.png'" sim/plots/stand_up.gp
set datafile separator ','
set datafile missing ''
set terminal pngcairo size 1000,900 font ',10'
set output png
set key autotitle columnhead
set multiplot layout 2,1 title 'torvane-sim: low-level stand-up in physics'
set lmargin at screen 0.08
set rmargin at screen 0.84
set key bottom right
set ylabel 'trunk height [m]'
set grid
set yrange [0:*]
plot csv using 1:4 with lines lw 2 lc rgb '#1f4e79' title 'trunk height'
set ylabel 'joint position [rad]'
set xlabel 'time [s]'
set yrange [*:*]
set key outside right top
names = 'FR-hip FR-thigh FR-calf FL-hip FL-thigh FL-calf RR-hip RR-thigh RR-calf RL-hip RL-thigh RL-calf'
plot for [j=0:11] csv using 1:(column(6+j)) with lines lw 1.5 lc j+1 title word(names, j+1), \
     for [j=0:11] csv using 1:(column(18+j)) with lines dt 2 lc j+1 notitle
unset multiplot
