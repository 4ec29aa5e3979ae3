#!/usr/bin/env bash
# The fleet of fleet_netns_test.sh with DDS Security on: hosts A and B each run torvane-sim and a
# bridge with --security, host C runs secure_fleet_client in its roles, each its own participant.
#  1. A watcher (robot A's monitor) records where A stands while four intruders publish cmd_vel
#     at 50 Hz for 2 s: B's operator (valid identity, no permission on A's cmd_vel) on an honest
#     stack and on a stack that skips its own permission check, a participant with no identity,
#     and one with an identity from another CA. A must not move, the emulator must receive only
#     the safe command, and bridge A's tally must count no command.
#  2. Bridge A started again; while a capture runs on A's interface, A's operator walks it, A's
#     monitor reads joint_states and B's monitor reads nothing of A's; the capture must not
#     hold a joint name in plain text.
# Everything is removed on exit, failure included. Needs root; skipped (exit 77) otherwise.
#   secure_fleet_netns_test.sh SIM BRIDGE CLIENT KEYSTORE_TOOL
set -u
sim=$1 bridge=$2 client=$3 tool=$4
if [ "$(id -u)" -ne 0 ]; then echo "secure_fleet_netns_test: skipped: needs root for ip netns"; exit 77; fi
for t in ip openssl dumpcap; do
  command -v $t >/dev/null || { echo "secure_fleet_netns_test: skipped: no $t"; exit 77; }
done

# Namespaces named for this run; what a killed earlier run left is removed first.
support=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tests/support/shell" && pwd)
# shellcheck source=tests/support/shell/netns.sh
. "$support/netns.sh"
netns_begin tvtest-secure
addrs=(10.199.15.1 10.199.15.2 10.199.15.3)
work=$(mktemp -d)
logs=$work/logs
mkdir -p "$logs"
pids=()
failures=0

stop() { # PID...: SIGTERM, SIGKILL after 5 s, reaped
  local p n
  for p in "$@"; do kill -TERM "$p" 2>/dev/null; done
  for p in "$@"; do
    for ((n = 0; n < 50; n++)); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
}
cleanup() {
  stop "${pids[@]}"
  netns_remove_all
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() { echo "secure_fleet_netns_test: $*"; for f in "$logs"/*.log; do echo "== $f"; tail -n 20 "$f"; done; exit 1; }
check() { # OK WHAT
  if [ "$1" -eq 1 ]; then echo "secure_fleet_netns_test: ok: $2"
  else echo "secure_fleet_netns_test: FAILED: $2"; failures=$((failures + 1)); fi
}
# Waits up to S seconds for PATTERN in FILE.
wait_for() {
  local file=$1 pattern=$2 end=$((SECONDS + $3))
  while [ $SECONDS -lt $end ]; do grep -q -- "$pattern" "$file" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# Keystores: ours, and another CA's with an impostor of A's operator.
ks=$work/keystore other=$work/other tampered=$work/tampered
{
  "$tool" init "$ks" && "$tool" init "$other" &&
    "$tool" enclave "$ks" /torvane/robot_a/bridge --role bridge --namespace robot_a &&
    "$tool" enclave "$ks" /torvane/robot_b/bridge --role bridge --namespace robot_b &&
    "$tool" enclave "$ks" /torvane/robot_a/operator --role operator --namespace robot_a &&
    "$tool" enclave "$ks" /torvane/robot_a/monitor --role monitor --namespace robot_a &&
    "$tool" enclave "$ks" /torvane/robot_b/operator --role operator --namespace robot_b &&
    "$tool" enclave "$ks" /torvane/robot_b/monitor --role monitor --namespace robot_b &&
    "$tool" enclave "$other" /torvane/robot_a/operator --role operator --namespace robot_a
} >"$logs/keystore.log" 2>&1 || fail "torvane-keystore failed"
# B's operator on a stack that does not check its own permissions: its identity and
# permissions are the real ones; its local governance leaves writes unchecked.
cp -rL "$ks" "$tampered"
sed 's/<enable_write_access_control>true/<enable_write_access_control>false/' \
  "$ks/enclaves/governance.xml" >"$work/unchecked.xml"
openssl smime -sign -text -in "$work/unchecked.xml" \
  -out "$tampered/enclaves/torvane/robot_b/operator/governance.p7s" \
  -signer "$ks/public/permissions_ca.cert.pem" -inkey "$ks/private/permissions_ca.key.pem" ||
  fail "cannot sign the unchecked governance"

netns_lan s "a=${addrs[0]}" "b=${addrs[1]}" "c=${addrs[2]}" || fail "cannot create the hosts"
hosts=("${netns_hosts[@]}")
CYCLONEDDS_URI=$(dds_peers_uri "${addrs[@]}")
export CYCLONEDDS_URI
unset ROS_DOMAIN_ID ROS_SECURITY_ENABLE ROS_SECURITY_KEYSTORE ROS_SECURITY_ENCLAVE_OVERRIDE ROS_SECURITY_STRATEGY

start_bridge() { # HOST NAME LOG
  ip netns exec "$1" "$bridge" --level high --robot 127.0.0.1 --robot-port 8082 \
    --local-port 8090 --namespace "$2" --duration 140 --security "$ks" >"$3" 2>&1 &
  pids+=($!)
  bridge_pid=$!
}
for i in 0 1; do
  ns=${hosts[$i]} name=robot_$([ "$i" -eq 0 ] && echo a || echo b)
  ip netns exec "$ns" "$sim" --level high --engine simple --port 8082 --duration 140 \
    --trace >"$logs/sim_$name.log" 2>&1 &
  pids+=($!)
  start_bridge "$ns" "$name" "$logs/bridge_$name.log"
  [ "$i" -eq 0 ] && bridge_a=$bridge_pid
done

# A client on host C as the enclave of keystore KS (none: no identity). Run it in the background
# only: it becomes the client (through timeout), so that its pid takes the signals.
as() { # KS ENCLAVE LOG ARGS...
  local ks=$1 enclave=$2 log=$3
  shift 3
  if [ -n "$ks" ]; then
    exec ip netns exec "${hosts[2]}" env ROS_SECURITY_ENABLE=true ROS_SECURITY_STRATEGY=Enforce \
      ROS_SECURITY_KEYSTORE="$ks" ROS_SECURITY_ENCLAVE_OVERRIDE="$enclave" \
      timeout -k 5 60 "$client" "$@" >"$log" 2>&1
  else
    exec ip netns exec "${hosts[2]}" timeout -k 5 60 "$client" "$@" >"$log" 2>&1
  fi
}

# 1. The intruders, watched.
as "$ks" /torvane/robot_a/monitor "$logs/watch.log" watch robot_a &
watcher=$!
pids+=($watcher)
wait_for "$logs/watch.log" "watch: baseline" 60 || fail "the watcher never saw robot A"
trace_from=$(wc -l <"$logs/sim_robot_a.log")
intruders=()
as "$ks" /torvane/robot_b/operator "$logs/intruder_honest.log" intruder robot_a & intruders+=($!)
as "$tampered" /torvane/robot_b/operator "$logs/intruder_unchecked.log" intruder robot_a & intruders+=($!)
as "" "" "$logs/intruder_anonymous.log" intruder robot_a & intruders+=($!)
as "$other" /torvane/robot_a/operator "$logs/intruder_other_ca.log" intruder robot_a & intruders+=($!)
pids+=("${intruders[@]}")
for p in "${intruders[@]}"; do wait "$p"; done
trace_to=$(wc -l <"$logs/sim_robot_a.log")
stop "$watcher"
wait "$watcher" 2>/dev/null
for f in watch intruder_honest intruder_unchecked intruder_anonymous intruder_other_ca; do
  sed 's/^/    /' "$logs/$f.log"
done
grep -q "watch: ok" "$logs/watch.log"; check $((1 - $?)) "robot A's joints and body stayed put while the intruders published"
written=$(cat "$logs"/intruder_*.log | sed -n 's/^intruder: wrote \([0-9]*\).*/\1/p' | awk '{s += $1} END {print s + 0}')
echo "secure_fleet_netns_test: the intruders wrote $written cmd_vel samples between them"
digests=$(sed -n "$((trace_from + 1)),${trace_to}p" "$logs/sim_robot_a.log" | awk '$1 == "answer" {print $5}' | sort -u | wc -l)
check $([ "$digests" -eq 1 ] && echo 1 || echo 0) "robot A's emulator received one command only, the safe one ($digests distinct)"
stop "$bridge_a"
tally=$(grep "commands [0-9]* (refused" "$logs/bridge_robot_a.log")
echo "    $tally"
echo "$tally" | grep -q "commands 0 (refused 0)"; check $((1 - $?)) "bridge A counted none of their samples"

# 2. The permitted operator and monitors, captured on A's interface.
start_bridge "${hosts[0]}" robot_a "$logs/bridge_robot_a_2.log"
ip netns exec "${hosts[0]}" timeout -k 5 40 dumpcap -i eth0 -a duration:25 -w "$work/a.pcapng" \
  >"$logs/capture.log" 2>&1 &
capture=$!
pids+=($capture)
wait_for "$logs/capture.log" "Capturing on" 20 || fail "the capture did not start"
trace_from=$(wc -l <"$logs/sim_robot_a.log")
as "$ks" /torvane/robot_a/operator "$logs/operator.log" operator robot_a &
op=$!
as "$ks" /torvane/robot_a/monitor "$logs/monitor_a.log" monitor robot_a yes &
mon_a=$!
as "$ks" /torvane/robot_b/monitor "$logs/monitor_b.log" monitor robot_a no &
mon_b=$!
pids+=($op $mon_a $mon_b)
wait "$op"; op_status=$?
wait "$mon_a"; mon_a_status=$?
wait "$mon_b"; mon_b_status=$?
stop "$capture"
for f in operator monitor_a monitor_b; do sed 's/^/    /' "$logs/$f.log"; done
check $([ $op_status -eq 0 ] && echo 1 || echo 0) "robot A's operator walked it"
check $([ $mon_a_status -eq 0 ] && echo 1 || echo 0) "robot A's monitor read its joint_states"
check $([ $mon_b_status -eq 0 ] && echo 1 || echo 0) "robot B's monitor read nothing of robot A's"
digests=$(sed -n "$((trace_from + 1)),\$p" "$logs/sim_robot_a.log" | awk '$1 == "answer" {print $5}' | sort -u | wc -l)
check $([ "$digests" -gt 1 ] && echo 1 || echo 0) "robot A's emulator received the operator's commands ($digests distinct)"
stop "$bridge_pid"
tally=$(grep "commands [0-9]* (refused" "$logs/bridge_robot_a_2.log")
sent=$(sed -n 's/^operator: wrote \([0-9]*\).*/\1/p' "$logs/operator.log")
taken=$(echo "$tally" | sed -n 's/.*commands \([0-9]*\) (refused.*/\1/p')
echo "    $tally"
check $([ -n "$taken" ] && [ -n "$sent" ] && [ "$taken" -gt 0 ] && [ "$taken" -le "$sent" ] && echo 1 || echo 0) \
  "bridge A counted the operator's samples only (${taken:-?} of ${sent:-?})"

packets=$(tshark -r "$work/a.pcapng" -Y "udp" -T fields -e frame.number 2>/dev/null | wc -l)
secured=$(tshark -r "$work/a.pcapng" -Y "rtps.sm.id == 0x31" -T fields -e frame.number 2>/dev/null | wc -l)
plain=$(grep -a -c -E "FR_hip_joint|RL_calf_joint" "$work/a.pcapng")
echo "secure_fleet_netns_test: capture on robot A's eth0: $packets UDP packets, $secured with SEC_PREFIX"
check $([ "$packets" -gt 100 ] && [ "$secured" -gt 0 ] && echo 1 || echo 0) "the capture holds A's protected traffic"
check $([ "$plain" -eq 0 ] && echo 1 || echo 0) "no joint name in plain text in the capture ($plain lines)"

[ "$failures" -eq 0 ] || fail "$failures FAILED"
echo "secure_fleet_netns_test: passed"
