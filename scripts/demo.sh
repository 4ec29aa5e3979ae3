#!/usr/bin/env bash
# The main job on a laptop: set up, build, start the robot emulator at both levels on
# 127.0.0.1, walk a square (high level) and stand up (low level) from Python, show the results:
# plots of both and, where the emulator was built with its view, a video of each.
# Exits non-zero, saying which stage failed, if any stage or example does.
#
# Ports (UDP on 127.0.0.1), when the defaults are taken on this machine:
#   TORVANE_DEMO_HIGH_PORT (8082)  high-level emulator    TORVANE_DEMO_HIGH_LOCAL_PORT (8081)  walk
#   TORVANE_DEMO_LOW_PORT  (8083)  low-level emulator     TORVANE_DEMO_LOW_LOCAL_PORT  (8084)  stand-up
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
high_port=${TORVANE_DEMO_HIGH_PORT:-8082}
low_port=${TORVANE_DEMO_LOW_PORT:-8083}
high_local=${TORVANE_DEMO_HIGH_LOCAL_PORT:-8081}
low_local=${TORVANE_DEMO_LOW_LOCAL_PORT:-8084}
for v in TORVANE_DEMO_HIGH_PORT:$high_port TORVANE_DEMO_LOW_PORT:$low_port \
         TORVANE_DEMO_HIGH_LOCAL_PORT:$high_local TORVANE_DEMO_LOW_LOCAL_PORT:$low_local; do
  value=${v#*:}
  if ! [[ $value =~ ^[0-9]+$ ]] || [ "$value" -lt 1 ] || [ "$value" -gt 65535 ]; then
    echo "demo: ${v%%:*}=$value is not a port (1..65535)" >&2
    exit 2
  fi
done

say() { printf 'demo: %s\n' "$*"; }
logs=build/default/demo
setup_log=build/demo-setup.log
mkdir -p build
# A stage's output goes to the set-up log; if it fails, its end is shown and the demo stops.
stage() {  # description command...
  local what=$1
  shift
  say "$what"
  if ! "$@" >>"$setup_log" 2>&1; then
    echo "demo: failed while ${what%…}; the end of $setup_log:" >&2
    tail -n 25 "$setup_log" >&2
    exit 1
  fi
}
: >"$setup_log"
stage "checking packages, Python 3.12 and pybind11 (installs what is missing)…" scripts/bootstrap.sh
stage "configuring…" cmake --preset default
stage "building (the first run takes a few minutes)…" cmake --build --preset default

mkdir -p "$logs"
sim=build/default/sim/torvane-sim
python=$(cat .deps/python)
export PYTHONPATH=$PWD/build/default/python

pids=()
stop_sims() {
  for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
trap stop_sims EXIT

# Ctrl-C reaches the example in the foreground, which sends its safe last command and ends; the
# demo then stops too. The emulators run in a session of their own, so that they still answer
# those last commands, and are stopped on the way out.
trap 'echo; say "interrupted"; exit 130' INT TERM

# Films each run where the emulator can (built with its view, ffmpeg installed).
video=()
if "$sim" --help 2>/dev/null | grep -q -- '--video ' && command -v ffmpeg >/dev/null; then video=(1); fi
start_sim() {  # level port variable motion-log [video]
  local film=()
  [ ${#video[@]} -gt 0 ] && [ -n "${5:-}" ] && film=(--video "$5")
  setsid "$sim" --level "$1" --port "$2" --log "$4" "${film[@]}" >"$logs/sim-$1.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do  # until it listens (at most a few seconds)
    grep -q "level on" "$logs/sim-$1.log" 2>/dev/null && return 0
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  echo "demo: the $1-level emulator did not start (another port: $3=...):" >&2
  cat "$logs/sim-$1.log" >&2
  exit 1
}

# The SDK's own set-up and tear-down lines are left out of the summary. The filter outlives a
# Ctrl-C, so that the example's last line still shows.
quiet() {
  trap '' INT
  grep --line-buffered -v -E '^(UDP Initialized|Closing UDP\.|End Safety\.)' || true
}

say "starting torvane-sim on 127.0.0.1 (high level :$high_port, low level :$low_port)…"
start_sim high "$high_port" TORVANE_DEMO_HIGH_PORT "$logs/walk.csv" "$logs/walk.mp4"
start_sim low "$low_port" TORVANE_DEMO_LOW_PORT "$logs/stand_up.csv" "$logs/stand_up.mp4"
failed=()
echo
echo "-- high level: walk a square"
"$python" examples/python/walk_square.py --port "$high_port" --local-port "$high_local" 2>&1 | quiet ||
  failed+=("the walk (exit ${PIPESTATUS[0]})")
echo
echo "-- low level: stand up with the safety guard"
"$python" examples/python/stand_up.py --port "$low_port" --local-port "$low_local" 2>&1 | quiet ||
  failed+=("the stand-up (exit ${PIPESTATUS[0]})")
stop_sims
echo
echo "-- the emulator's own account"
grep -h '^torvane-sim: \([0-9r]\|video\)' "$logs"/sim-high.log "$logs"/sim-low.log | sed 's/^torvane-sim: /  /'

# Pictures from the emulators' motion logs: the stand-up's trunk height and joint tracking, and
# the path walked.
echo
echo "-- pictures"
for run in stand_up walk; do
  if [ -s "$logs/$run.csv" ] &&
     gnuplot -e "csv='$logs/$run.csv'; png='$logs/$run.png'" "sim/plots/$run.gp" 2>>"$setup_log"; then
    echo "  $logs/$run.png"
  else
    echo "  no picture of the $run (see $setup_log)"
  fi
  if [ ${#video[@]} -gt 0 ]; then
    if [ -s "$logs/$run.mp4" ]; then echo "  $logs/$run.mp4"; else echo "  no video of the $run"; fi
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo
  echo "demo: ${failed[*]} did not succeed; the emulator logs are in $logs/" >&2
  exit 1
fi
