#!/usr/bin/env bash
# The bridge's benchmark, on loopback only (DDS without multicast, peers 127.0.0.1):
#  1. added latency: a low-level state datagram sent to the bridge until the matching
#     joint_states sample reaches a subscriber on the same machine (bridge_latency), at a 500 Hz
#     pace and back to back, beside Cyclone's own ddsperf ping-pong measured the same two ways,
#     and at 500 Hz again with DDS Security on (bridge and subscriber authenticated, encrypted);
#  2. missed cycles of a 500 Hz bridge against torvane-sim over TORVANE_BRIDGE_BENCH_SECONDS
#     (default 60) while a slow, reliable keep-all subscriber refuses most of what it is sent.
# Writes a Markdown section to OUT_MD.
#   bridge_bench.sh BUILD_DIR OUT_MD
set -euo pipefail
build=$1 out_md=$2
bin=$build/bridge
if [ ! -x "$bin/torvane-bridge" ] || [ ! -x "$bin/bench/bridge_latency" ] || ! command -v ddsperf >/dev/null; then
  printf '\n## DDS bridge\n\nSkipped: torvane-bridge or ddsperf (cyclonedds-tools) not built or installed.\n' >"$out_md"
  exit 0
fi
seconds=${TORVANE_BRIDGE_BENCH_SECONDS:-60}
export CYCLONEDDS_URI='<CycloneDDS><Domain id="any"><General><Interfaces><NetworkInterface name="lo"/></Interfaces><AllowMulticast>false</AllowMulticast></General><Discovery><ParticipantIndex>auto</ParticipantIndex><MaxAutoParticipantIndex>30</MaxAutoParticipantIndex><Peers><Peer address="127.0.0.1"/></Peers></Discovery></Domain></CycloneDDS>'
export ROS_DOMAIN_ID=$((200 + $$ % 30))
base=$((30000 + ($$ % 1000) * 20))
log=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$log"
}
trap cleanup EXIT

# The median of the values that follow the word $1 in the lines of file $2 ("nan" if none).
median_of() {
  awk -v key="$1" '{ for (i = 1; i < NF; i++) if ($i == key) print $(i + 1) + 0 }' "$2" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else print v[int((NR + 1) / 2)] }'
}

# ddsperf ping-pong for $1 seconds with ping options $2; prints "median_rtt_us p99_rtt_us": the
# medians over the per-second reports, the first two seconds left out as warm-up.
ddsperf_rtt() {
  ddsperf -i "$ROS_DOMAIN_ID" -D $(($1 + 2)) pong waitset >"$log/pong.log" 2>&1 &
  local pong=$!
  pids+=("$pong")
  # shellcheck disable=SC2086
  ddsperf -i "$ROS_DOMAIN_ID" -D "$1" ping $2 waitset 2>&1 | grep ' 50% ' | tail -n +3 >"$log/ping.log" || true
  echo "$(median_of 50% "$log/ping.log") $(median_of 99% "$log/ping.log")"
  wait "$pong" 2>/dev/null || true
}

# A keystore for the secure run: the bridge's enclave and a monitor's for the subscriber.
keystore_tool=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools/keystore" && pwd)/torvane-keystore
ks=$log/keystore
secure_ok=0
if command -v openssl >/dev/null && "$keystore_tool" init "$ks" >/dev/null 2>&1 &&
  "$keystore_tool" enclave "$ks" /torvane/bench_lat/bridge --role bridge --namespace bench_lat >/dev/null 2>&1 &&
  "$keystore_tool" enclave "$ks" /torvane/bench_lat/monitor --role monitor --namespace bench_lat >/dev/null 2>&1; then
  secure_ok=1
fi

# bridge_latency against a fresh bridge; $1: samples, $2: gap in us, $3: "secure" for DDS
# Security on both sides. Prints "median_us p99_us lost".
bridge_lat() {
  local secure=() sub_env=()
  if [ "${3:-}" = secure ]; then
    secure=(--security "$ks")
    sub_env=(ROS_SECURITY_ENABLE=true "ROS_SECURITY_KEYSTORE=$ks"
             ROS_SECURITY_ENCLAVE_OVERRIDE=/torvane/bench_lat/monitor)
  fi
  "$bin/torvane-bridge" --level low --robot-port "$base" --local-port $((base + 1)) \
    --namespace bench_lat --duration 120 "${secure[@]}" >"$log/lat_bridge.log" 2>&1 &
  local b=$!
  pids+=("$b")
  env "${sub_env[@]}" "$bin/bench/bridge_latency" "$base" $((base + 1)) bench_lat "$1" "$2" \
    >"$log/lat.log" 2>&1 || true
  kill -INT "$b" 2>/dev/null || true
  wait "$b" 2>/dev/null || true
  awk '/^bridge_latency: samples/ { print $7, $9, $5 }' "$log/lat.log"
}

echo "== bridge: latency (ddsperf, then the bridge)"
read -r dp_fast dp_fast99 < <(ddsperf_rtt 8 "") || true
read -r dp_500 dp_500_99 < <(ddsperf_rtt 8 "500Hz") || true
read -r br_500 br_500_99 br_500_lost < <(bridge_lat 4000 2000) || true
read -r br_fast br_fast99 br_fast_lost < <(bridge_lat 4000 0) || true
br_sec=nan br_sec99=nan br_sec_lost=-
if [ $secure_ok -eq 1 ]; then
  read -r br_sec br_sec99 br_sec_lost < <(bridge_lat 4000 2000 secure) || true
fi

# A 500 Hz bridge against torvane-sim for $seconds; $1: a name, $2: "slow" to run the slow
# subscriber beside it. Prints "cycles missed first_missed latest_late_us states published".
cycles_run() {
  "$build/sim/torvane-sim" --level low --port $((base + 2)) --duration $((seconds + 20)) >"$log/sim_$1.log" 2>&1 &
  local sim=$!
  pids+=("$sim")
  if [ "$2" = slow ]; then
    "$bin/bench/slow_subscriber" "bench_$1" $((seconds + 10)) >"$log/slow_$1.log" 2>&1 &
    pids+=($!)
  fi
  "$bin/torvane-bridge" --level low --robot-port $((base + 2)) --local-port $((base + 3)) \
    --namespace "bench_$1" --duration "$seconds" "${prio[@]}" >"$log/bridge_$1.log" 2>&1 || true
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  local f=$log/bridge_$1.log
  echo "$(sed -n 's/^torvane-bridge: cycles \([0-9]*\),.*/\1/p' "$f") \
$(sed -n 's/^torvane-bridge: cycles.* missed \([0-9]*\) .*/\1/p' "$f") \
$(sed -n 's/^torvane-bridge: cycles.*first after cycle \([0-9]*\)).*/\1/p' "$f") \
$(sed -n 's/^torvane-bridge: cycles.*latest start \([0-9]*\) us late.*/\1/p' "$f") \
$(sed -n 's/^torvane-bridge: states \([0-9]*\) .*/\1/p' "$f") \
$(sed -n 's/^torvane-bridge: states.*published \([0-9]*\) .*/\1/p' "$f")"
}

prio=()
[ "$(id -u)" -eq 0 ] && prio=(--priority 80)
echo "== bridge: missed cycles over ${seconds} s, without a subscriber and with a slow one"
read -r base_cycles base_missed base_first base_late base_states base_pub < <(cycles_run alone none) || true
read -r cycles missed first late received published < <(cycles_run slow slow) || true

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
half() { awk -v a="$1" 'BEGIN { printf "%.1f", a / 2 }'; }
cat >"$out_md" <<MD

## DDS bridge (loopback, same run)

Added latency: a low-level state datagram sent to \`torvane-bridge\` until the matching
\`joint_states\` sample reaches a subscriber (waitset, ROS 2's default reliable QoS) in the
sending process. ddsperf's one-way latency is half its ping-pong round trip (waitset, 12-byte
samples). Goal: bridge median at most 2x ddsperf's one-way median at the same pace.

| pace | ddsperf one-way median / p99 (us) | bridge added median / p99 (us) | median ratio (goal <= 2) | lost |
|---|---:|---:|---:|---:|
| 500 Hz | $(half "$dp_500") / $(half "$dp_500_99") | $br_500 / $br_500_99 | $(ratio "$br_500" "$(half "$dp_500")") | $br_500_lost |
| back to back | $(half "$dp_fast") / $(half "$dp_fast99") | $br_fast / $br_fast99 | $(ratio "$br_fast" "$(half "$dp_fast")") | $br_fast_lost |

With DDS Security on (\`--security\`, strict governance: authenticated, access-controlled,
encrypted; the subscriber a permitted monitor), beside the open bridge at 500 Hz in the same run.
Goal: secure median at most 1.5x the open bridge's median.

| pace | open bridge median / p99 (us) | secure bridge median / p99 (us) | median ratio (goal <= 1.5) | lost |
|---|---:|---:|---:|---:|
| 500 Hz | $br_500 / $br_500_99 | $br_sec / $br_sec99 | $(ratio "$br_sec" "$br_500") | $br_sec_lost |

Missed cycles at 500 Hz over ${seconds} s against torvane-sim${prio:+, cycle thread at SCHED_FIFO 80},
the first run without any subscriber (the machine's own share), the second with one slow
subscriber of joint_states and imu (reliable, keep-all, 10 samples of room, one take per
100 ms). Goal: none missed with the slow subscriber.

| run | cycles sent | missed (goal 0) | first miss after cycle | latest start (us late) | states received / published |
|---|---:|---:|---:|---:|---:|
| no subscriber | ${base_cycles:-?} | ${base_missed:-?} | ${base_first:-?} | ${base_late:-?} | ${base_states:-?} / ${base_pub:-?} |
| slow subscriber | ${cycles:-?} | **${missed:-?}** | ${first:-?} | ${late:-?} | ${received:-?} / ${published:-?} |
MD
cat "$out_md"
