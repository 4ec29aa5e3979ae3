#!/usr/bin/env bash
# Three hosts as network namespaces on one Linux bridge (itself in a fourth namespace, so the
# machine's own network is never touched): hosts A and B each run torvane-sim and a bridge
# (namespaces robot_a and robot_b), host C runs fleet_client. DDS discovery uses the hosts'
# addresses as unicast peers on their veth interface. Every child is stopped within a bounded
# time and reaped, and each program must end on SIGTERM with its tally printed. The namespaces
# are named tvtest-fleet-<pid>-*: removed on every exit, and a later run removes those of a run
# that was killed. Needs root; skipped (exit 77) otherwise.
#   fleet_netns_test.sh SIM BRIDGE CLIENT
# shellcheck source-path=SCRIPTDIR/../..
set -u
sim=$1 bridge=$2 client=$3
if [ "$(id -u)" -ne 0 ]; then echo "fleet_netns_test: skipped: needs root for ip netns"; exit 77; fi
if ! command -v ip >/dev/null; then echo "fleet_netns_test: skipped: no ip (iproute2)"; exit 77; fi
support=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tests/support/shell" && pwd)
# shellcheck source=tests/support/shell/netns.sh
. "$support/netns.sh"
# shellcheck source=tests/support/shell/processes.sh
. "$support/processes.sh"

names=(a b c)
addrs=(10.199.14.1 10.199.14.2 10.199.14.3)
logs=$(mktemp -d)
pids=()

cleanup() {
  local p
  for p in "${pids[@]}"; do proc_stop "$p" TERM 5; done
  pids=()
  netns_remove_all
  rm -rf "$logs"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() { echo "fleet_netns_test: $*"; for f in "$logs"/*.log; do echo "== $f"; tail -n 20 "$f"; done; exit 1; }

netns_begin tvtest-fleet
netns_lan s "${names[0]}=${addrs[0]}" "${names[1]}=${addrs[1]}" "${names[2]}=${addrs[2]}" ||
  fail "cannot create the hosts"
hosts=("${netns_hosts[@]}")
CYCLONEDDS_URI=$(dds_peers_uri "${addrs[@]}")
export CYCLONEDDS_URI
unset ROS_DOMAIN_ID  # domain 0, as ROS 2 without it

# The programs are exec'd by ip netns exec, so each pid is the program's own. --duration ends
# them by themselves should this script be killed outright.
programs=()
for i in 0 1; do
  ns=${hosts[$i]} name=robot_$([ "$i" -eq 0 ] && echo a || echo b)
  ip netns exec "$ns" "$sim" --level high --engine simple --port 8082 --duration 80 >"$logs/sim_$name.log" 2>&1 &
  pids+=($!) programs+=("sim_$name")
  ip netns exec "$ns" "$bridge" --level high --robot 127.0.0.1 --robot-port 8082 \
    --local-port 8090 --namespace "$name" --duration 80 >"$logs/bridge_$name.log" 2>&1 &
  pids+=($!) programs+=("bridge_$name")
done

ip netns exec "${hosts[2]}" "$client" robot_a robot_b >"$logs/client.log" 2>&1 &
client_pid=$!
proc_wait "$client_pid" 90 || fail "the client did not end within 90 s"
status=$proc_status
cat "$logs/client.log"
[ "$status" -eq 0 ] || fail "client exit status $status"

# Each program ends on SIGTERM, its tally printed (the grace is generous: a bound, not a timing).
for k in "${!pids[@]}"; do
  proc_stop "${pids[$k]}" TERM 10 || fail "${programs[$k]} did not end within 10 s of SIGTERM"
  [ "$proc_status" -eq 0 ] || fail "${programs[$k]} exit status $proc_status after SIGTERM"
  case ${programs[$k]} in
    sim_*) tally="torvane-sim: .* commands taken" ;;
    bridge_*) tally="torvane-bridge: cycles" ;;
  esac
  grep -q "$tally" "$logs/${programs[$k]}.log" || fail "${programs[$k]} printed no tally"
done
pids=()
echo "fleet_netns_test: passed"
