# shellcheck shell=bash
# Network namespaces of a shell test, sourced. Every name is <prefix>-<pid of the test>-<name>,
# so a run removes what an earlier run of the same test left behind (its pid no longer alive)
# and never what a run beside it still uses.
#   netns_begin PREFIX      removes stale namespaces of PREFIX; sets netns_tag=PREFIX-$$
#   netns_add NAME          creates $netns_tag-NAME (remembered for netns_remove_all)
#   netns_remove_all        removes every namespace of this run
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
