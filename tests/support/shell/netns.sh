# shellcheck shell=bash
# Network namespaces of a shell test, sourced. Every name is <prefix>-<pid of the test>-<name>,
# so a run removes what an earlier run of the same test left behind (its pid no longer alive)
# and never what a run beside it still uses.
#   netns_begin PREFIX      removes stale namespaces of PREFIX; sets netns_tag=PREFIX-$$
#   netns_add NAME          creates $netns_tag-NAME (remembered for netns_remove_all)
#   netns_remove_all        removes every namespace of this run
#   netns_lan SWITCH NAME=ADDR...   a switch namespace with a Linux bridge and one host namespace
#                           per NAME with eth0 at ADDR/24 on it; the hosts' full names in
#                           netns_hosts
#   dds_peers_uri ADDR...   a Cyclone DDS configuration on eth0, unicast to the peers given
# The caller traps EXIT (and INT, TERM, HUP) to call netns_remove_all; a run killed with SIGKILL
# is cleaned up by the next run's netns_begin.

netns_prefix=""
netns_tag=""
netns_made=()

netns_remove_stale() {
  local ns owner
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
    case $ns in "$netns_prefix"-*) ;; *) continue ;; esac
    owner=${ns#"$netns_prefix"-}
    owner=${owner%%-*}
    case $owner in '' | *[!0-9]*) continue ;; esac
    if ! kill -0 "$owner" 2>/dev/null; then ip netns del "$ns" 2>/dev/null; fi
  done
}

netns_begin() {
  netns_prefix=$1
  netns_tag=$netns_prefix-$$
  netns_remove_stale
}

netns_add() {
  ip netns add "$netns_tag-$1" || return 1
  netns_made+=("$netns_tag-$1")
}

netns_remove_all() {
  local ns
  for ns in "${netns_made[@]}"; do ip netns del "$ns" 2>/dev/null; done
  netns_made=()
}

netns_hosts=()

netns_lan() {
  local sw=$netns_tag-$1 i=0 pair name addr ns
  shift
  netns_add "${sw#"$netns_tag"-}" || return 1
  ip -n "$sw" link add br0 type bridge || return 1
  ip -n "$sw" link set br0 up
  netns_hosts=()
  for pair in "$@"; do
    name=${pair%%=*} addr=${pair#*=}
    netns_add "$name" || return 1
    ns=$netns_tag-$name
    netns_hosts+=("$ns")
    ip -n "$ns" link add eth0 type veth peer name p$i netns "$sw" || return 1
    ip -n "$sw" link set p$i master br0
    ip -n "$sw" link set p$i up
    ip -n "$ns" addr add "$addr/24" dev eth0
    ip -n "$ns" link set eth0 up
    ip -n "$ns" link set lo up
    i=$((i + 1))
  done
}

dds_peers_uri() {
  local peers="" a
  for a in "$@"; do peers="$peers<Peer address=\"$a\"/>"; done
  printf '%s' "<CycloneDDS><Domain id=\"any\"><General><Interfaces><NetworkInterface name=\"eth0\"/></Interfaces><AllowMulticast>false</AllowMulticast></General><Discovery><Peers>$peers</Peers><ParticipantIndex>auto</ParticipantIndex></Discovery></Domain></CycloneDDS>"
}
