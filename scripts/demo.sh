#!/usr/bin/env bash
# The main job on a laptop: set up, build, start the robot emulator at both levels on
# 127.0.0.1, walk a square (high level) and stand up (low level) from Python, show the results.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
high_port=${TORVANE_DEMO_HIGH_PORT:-8082}
low_port=${TORVANE_DEMO_LOW_PORT:-8083}

scripts/bootstrap.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

logs=build/default/demo
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

start_sim() {  # level port
  "$sim" --level "$1" --port "$2" >"$logs/sim-$1.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do  # until it listens (at most a few seconds)
    grep -q "level on" "$logs/sim-$1.log" 2>/dev/null && return 0
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  echo "demo: the $1-level emulator did not start:" >&2
  cat "$logs/sim-$1.log" >&2
  exit 1
}

# The SDK's own set-up and tear-down lines are left out of the summary.
quiet() { grep -v -E '^(UDP Initialized|Closing UDP\.|End Safety\.)' || true; }

start_sim high "$high_port"
start_sim low "$low_port"
echo "== torvane demo: emulator on 127.0.0.1 (high level :$high_port, low level :$low_port)"
echo
echo "-- high level: walk a square"
"$python" examples/python/walk_square.py --port "$high_port" 2>&1 | quiet
echo
echo "-- low level: stand up with the safety guard"
"$python" examples/python/stand_up.py --port "$low_port" 2>&1 | quiet
stop_sims
echo
echo "-- the emulator's own account"
grep -h '^torvane-sim: [0-9]' "$logs"/sim-high.log "$logs"/sim-low.log | sed 's/^torvane-sim: /  /'

# Pictures: the stand-up and the walk again, each with the emulator writing its motion log,
# rendered to PNG beside the logs.
echo
echo "-- pictures"
picture() {  # level port csv script example...
  local level=$1 port=$2 csv=$3 plot=$4
  shift 4
  "$sim" --level "$level" --port "$port" --log "$csv" >"$logs/sim-$level-picture.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q "level on" "$logs/sim-$level-picture.log" 2>/dev/null && break
    sleep 0.05
  done
  "$python" "$@" --port "$port" >/dev/null 2>&1
  stop_sims
  gnuplot -e "csv='$csv'; png='${csv%.csv}.png'" "$plot"
  echo "  ${csv%.csv}.png"
}
picture low "$low_port" "$logs/stand_up.csv" sim/plots/stand_up.gp examples/python/stand_up.py
picture high "$high_port" "$logs/walk.csv" sim/plots/walk.gp examples/python/walk_square.py
