#!/usr/bin/env bash
# The bridge's benchmark, on loopback only (DDS without multicast, peers 127.0.0.1):
#  1. added latency: a low-level state datagram sent to the bridge until the matching
#     joint_states sample reaches a subscriber on the same machine (bridge_latency), at a 500 Hz
#     pace and back to back, beside Cyclone's own ddsperf ping-pong measured the same two ways,
#     in TORVANE_BRIDGE_BENCH_ROUNDS (default 3) rounds that alternate the two, so that a change
#     in the machine's load between them shows in one round rather than in the ratio; and at
#     500 Hz again with DDS Security on (bridge and subscriber authenticated, encrypted);
#  2. missed cycles of a 500 Hz bridge against torvane-sim over TORVANE_BRIDGE_BENCH_SECONDS
#     (default 60) while a slow, reliable keep-all subscriber refuses most of what it is sent.
# Writes a Markdown section to OUT_MD.
#   bridge_bench.sh BUILD_DIR OUT_MD
set -euo pipefail
build=$1 out_md=$2
bin=$build/bridge
if [ ! -x "$bin/torvane-bridge" ] || [ ! -x "$bin/bench/bridge_latency" ] || [ ! -x "$bin/bench/udp_hop" ] ||
  ! command -v ddsperf >/dev/null; then
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

# bridge_latency against a fresh bridge; $1: samples, $2: gap in us, then options of the bridge.
# Prints "median_us p99_us lost". With spin=spin the client waits busy between its states.
bridge_lat() {
  local samples=$1 gap=$2 security=() sub_env=()
  shift 2
  if [ -n "${secure:-}" ]; then
    security=(--security "$ks")
    sub_env=(ROS_SECURITY_ENABLE=true "ROS_SECURITY_KEYSTORE=$ks"
             ROS_SECURITY_ENCLAVE_OVERRIDE=/torvane/bench_lat/monitor)
  fi
  "$bin/torvane-bridge" --level low --robot-port "$base" --local-port $((base + 1)) \
    --namespace bench_lat --duration 120 "${security[@]}" "$@" >"$log/lat_bridge.log" 2>&1 &
  local b=$!
  pids+=("$b")
  env "${sub_env[@]}" "$bin/bench/bridge_latency" "$base" $((base + 1)) bench_lat "$samples" \
    "$gap" ${spin:+"$spin"} >"$log/lat.log" 2>&1 || true
  kill -INT "$b" 2>/dev/null || true
  wait "$b" 2>/dev/null || true
  awk '/^bridge_latency: samples/ { print $7, $9, $5 }' "$log/lat.log"
}

# A bare datagram's one-way trip between two processes, each blocked in recv; $1: samples, $2: gap
# in us. Prints "median_us p99_us".
udp_one_way() {
  "$bin/bench/udp_hop" echo $((base + 4)) 60 &
  local echo=$!
  pids+=("$echo")
  "$bin/bench/udp_hop" time $((base + 4)) "$1" "$2" >"$log/hop.log" 2>&1 || true
  kill "$echo" 2>/dev/null || true
  wait "$echo" 2>/dev/null || true
  awk '/^udp_hop: samples/ { print $7, $9 }' "$log/hop.log"
}

# A keystore for the secure rounds: the bridge's enclave and a monitor's for the subscriber.
keystore_tool=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools/keystore" && pwd)/torvane-keystore
ks=$log/keystore
secure_ok=0
if command -v openssl >/dev/null && "$keystore_tool" init "$ks" >/dev/null 2>&1 &&
  "$keystore_tool" enclave "$ks" /torvane/bench_lat/bridge --role bridge --namespace bench_lat >/dev/null 2>&1 &&
  "$keystore_tool" enclave "$ks" /torvane/bench_lat/monitor --role monitor --namespace bench_lat >/dev/null 2>&1; then
  secure_ok=1
fi

prio=()
[ "$(id -u)" -eq 0 ] && prio=(--priority 80)
rounds=${TORVANE_BRIDGE_BENCH_ROUNDS:-3}
# One line per round and pace in $log/lat_<pace>: "ddsperf_one_way_median p99 bridge_median p99
# lost udp_one_way_median p99"; ddsperf's one-way latency is half its round trip. $1: the gap in
# us, $2: ddsperf's ping options, then the bridge's options.
lat_round() {
  local gap=$1 dp dp99 br br99 lost hop hop99
  read -r dp dp99 < <(ddsperf_rtt 6 "$2") || true
  shift 2
  read -r hop hop99 < <(udp_one_way 2000 "$gap") || true
  read -r br br99 lost < <(bridge_lat 2000 "$gap" "$@") || true
  awk -v a="${dp:-nan}" -v b="${dp99:-nan}" \
    'function half(x) { return x == "nan" ? x : x / 2 } BEGIN { printf "%s %s ", half(a), half(b) }'
  echo "${br:-nan} ${br99:-nan} ${lost:-0} ${hop:-nan} ${hop99:-nan}"
}
echo "== bridge: latency, $rounds rounds of ddsperf, then the bridge"
for ((r = 1; r <= rounds; r++)); do
  spin=
  lat_round 2000 "500Hz" >>"$log/lat_500"
  [ ${#prio[@]} -gt 0 ] && lat_round 2000 "500Hz" "${prio[@]}" >>"$log/lat_500rt"
  spin=spin lat_round 2000 "500Hz" >>"$log/lat_500spin"
  lat_round 0 "" >>"$log/lat_fast"
  [ $secure_ok -eq 1 ] && secure=1 lat_round 2000 "500Hz" >>"$log/lat_500sec"
done
# The secure bridge's median beside the open one's, over the same rounds.
secure_ratio() {
  [ -s "$log/lat_500sec" ] || { echo "n/a (no keystore)"; return; }
  paste "$log/lat_500" "$log/lat_500sec" | awk '{ if ($3 > 0 && $10 != "nan") r[++n] = $10 / $3 }
    END { for (i = 2; i <= n; i++) for (j = i; j > 1 && r[j - 1] > r[j]; j--) { t = r[j]; r[j] = r[j - 1]; r[j - 1] = t }
          if (n) printf "%.2f", r[int((n + 1) / 2)]; else printf "n/a" }'
}

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

echo "== bridge: missed cycles over ${seconds} s, without a subscriber and with a slow one"
read -r base_cycles base_missed base_first base_late base_states base_pub < <(cycles_run alone none) || true
read -r cycles missed first late received published < <(cycles_run slow slow) || true

# A table row for the rounds in file $2, named $1: the medians over the rounds of each figure
# and of each round's ratios, the samples lost in all rounds, and each round's median ratio.
lat_row() {
  [ -s "$2" ] || return 0
  awk -v name="$1" '
    function med(col,   n, i, j, t, v) {
      n = 0
      for (i = 1; i <= NR; i++) if (row[i, col] != "nan") v[++n] = row[i, col]
      for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
      return n ? v[int((n + 1) / 2)] : "nan"
    }
    {
      for (i = 1; i <= 7; i++) row[NR, i] = $i
      row[NR, 8] = ($1 > 0 && $3 != "nan") ? $3 / $1 : "nan"
      row[NR, 9] = ($2 > 0 && $4 != "nan") ? $4 / $2 : "nan"
      row[NR, 10] = ($1 > 0 && $3 != "nan" && $6 != "nan") ? ($1 + $6) / $1 : "nan"
      lost += $5
      each = each (NR > 1 ? ", " : "") (row[NR, 8] == "nan" ? "n/a" : sprintf("%.2f", row[NR, 8]))
    }
    END {
      printf "| %s | %.1f / %.1f | %.1f / %.1f | %.2f | %.2f | %s | %.1f / %.1f | %.2f | %d |\n",
        name, med(1), med(2), med(3), med(4), med(8), med(9), each, med(6), med(7), med(10), lost
    }' "$2"
}
cat >"$out_md" <<MD

## DDS bridge (loopback, same run)

Added latency: a low-level state datagram sent to \`torvane-bridge\` until the matching
\`joint_states\` sample reaches a subscriber (waitset, ROS 2's default reliable QoS) in the
sending process, which sleeps between its states. ddsperf's one-way latency is half its
ping-pong round trip (waitset, 12-byte samples). ${rounds} rounds, each ddsperf then the bridge at
each pace; the figures are the medians over the rounds of each round's median and 99th
percentile, the ratios the medians of each round's ratios. Goal: bridge median at most 2x and
99th percentile at most 3x ddsperf's one-way figures at the same pace. The bridge cannot do
without the datagram that brings it each state: \`udp_hop\` times that trip alone between two
processes (each blocked in recv), and the floor is the ratio a bridge would reach if it added
nothing but that trip to ddsperf's one-way latency. In the row with the client spinning, the
client keeps its core busy between states, as this benchmark's client used to (ddsperf's ping
sleeps); on a machine of two cores that changes where the scheduler wakes the bridge.

| pace | ddsperf one-way median / p99 (us) | bridge added median / p99 (us) | median ratio (goal <= 2) | p99 ratio (goal <= 3) | median ratio per round | UDP one-way median / p99 (us) | floor: (UDP + ddsperf) / ddsperf | lost |
|---|---:|---:|---:|---:|---|---:|---:|---:|
$(lat_row "500 Hz" "$log/lat_500")
$(lat_row "500 Hz, bridge at --priority 80" "$log/lat_500rt")
$(lat_row "500 Hz, client spinning between states" "$log/lat_500spin")
$(lat_row "back to back" "$log/lat_fast")
$(lat_row "500 Hz, DDS Security on" "$log/lat_500sec")

With DDS Security on (\`--security\`, strict governance: authenticated, access-controlled,
encrypted; the subscriber a permitted monitor), the secure bridge's median over the open
bridge's at 500 Hz, the median of the rounds' ratios: **$(secure_ratio)** (goal <= 1.5).

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
