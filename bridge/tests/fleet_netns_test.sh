#!/usr/bin/env bash
# Three hosts as network namespaces on one Linux bridge (itself in a fourth namespace, so the
# machine's own network is never touched): hosts A and B each run torvane-sim and a bridge
# (namespaces robot_a and robot_b), host C runs fleet_client. DDS discovery uses the hosts'
# addresses as unicast peers on their veth interface. Everything is removed on exit, failure
# included. Needs root; skipped (exit 77) otherwise.
#   fleet_netns_test.sh SIM BRIDGE CLIENT
set -u
sim=$1 bridge=$2 client=$3
if [ "$(id -u)" -ne 0 ]; then echo "fleet_netns_test: skipped: needs root for ip netns"; exit 77; fi
if ! command -v ip >/dev/null; then echo "fleet_netns_test: skipped: no ip (iproute2)"; exit 77; fi

tag=tvb$$
sw=${tag}s
hosts=(${tag}a ${tag}b ${tag}c)
addrs=(10.199.14.1 10.199.14.2 10.199.14.3)
logs=$(mktemp -d)
pids=()

cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  for ns in "${hosts[@]}" "$sw"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$logs"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() { echo "fleet_netns_test: $*"; for f in "$logs"/*.log; do echo "== $f"; tail -n 20 "$f"; done; exit 1; }

ip netns add "$sw" || fail "cannot create namespaces"
ip -n "$sw" link add br0 type bridge || fail "cannot create the bridge"
ip -n "$sw" link set br0 up
for i in 0 1 2; do
  ns=${hosts[$i]}
  ip netns add "$ns" || fail "cannot create $ns"
  ip -n "$ns" link add eth0 type veth peer name p$i netns "$sw" || fail "cannot create veth"
  ip -n "$sw" link set p$i master br0
  ip -n "$sw" link set p$i up
  ip -n "$ns" addr add "${addrs[$i]}/24" dev eth0
  ip -n "$ns" link set eth0 up
  ip -n "$ns" link set lo up
done

peers=""
for a in "${addrs[@]}"; do peers="$peers<Peer address=\"$a\"/>"; done
export CYCLONEDDS_URI="<CycloneDDS><Domain id=\"any\"><General><Interfaces><NetworkInterface name=\"eth0\"/></Interfaces><AllowMulticast>false</AllowMulticast></General><Discovery><Peers>$peers</Peers><ParticipantIndex>auto</ParticipantIndex></Discovery></Domain></CycloneDDS>"
unset ROS_DOMAIN_ID  # domain 0, as ROS 2 without it

for i in 0 1; do
  ns=${hosts[$i]} name=robot_$([ "$i" -eq 0 ] && echo a || echo b)
  ip netns exec "$ns" timeout 90 "$sim" --level high --engine simple --port 8082 --duration 80 >"$logs/sim_$name.log" 2>&1 &
  pids+=($!)
  ip netns exec "$ns" timeout 90 "$bridge" --level high --robot 127.0.0.1 --robot-port 8082 \
    --local-port 8090 --namespace "$name" --duration 80 >"$logs/bridge_$name.log" 2>&1 &
  pids+=($!)
done

ip netns exec "${hosts[2]}" timeout 90 "$client" robot_a robot_b >"$logs/client.log" 2>&1
status=$?
cat "$logs/client.log"
[ "$status" -eq 0 ] || fail "client exit status $status"
echo "fleet_netns_test: passed"
