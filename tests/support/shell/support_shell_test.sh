#!/usr/bin/env bash
# The shell tests' support: a namespace left by a run whose pid has ended is removed by the next
# run of the same prefix, one of a run still alive is not; a child that ignores SIGTERM is killed
# after the grace and reaped. Namespaces need root (skipped, exit 77, otherwise).
# shellcheck source-path=SCRIPTDIR/../../..
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/support/shell/netns.sh
. "$here/netns.sh"
# shellcheck source=tests/support/shell/processes.sh
. "$here/processes.sh"
failures=0
check() { if "$@"; then :; else echo "support_shell_test: FAILED: $*"; failures=$((failures + 1)); fi; }

# A child that ignores SIGTERM: killed after the grace, reaped, and said so.
ready=$(mktemp -u)
bash -c 'trap "" TERM; : >"$1"; while :; do sleep 0.05; done' _ "$ready" &
stubborn=$!
for _ in $(seq 200); do [ -e "$ready" ] && break; sleep 0.05; done  # bounded: 10 s
rm -f "$ready"
proc_stop "$stubborn" TERM 0.3
check [ $? -eq 1 ]
check proc_ended "$stubborn"
check [ "$proc_status" -ne 0 ]
# One that ends on it: ended by itself.
sleep 30 &
proc_stop $! TERM 5
check [ $? -eq 0 ]
# proc_wait: one that ends by itself within the limit, with its status.
bash -c 'exit 3' &
proc_wait $! 10
check [ $? -eq 0 ]
check [ "$proc_status" -eq 3 ]

if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
  echo "support_shell_test: namespaces skipped: needs root and ip"
  [ "$failures" -eq 0 ] || exit 1
  exit 77
fi
prefix=tvtest-support
true &
dead=$!
wait "$dead"
sleep 60 &
alive=$!
trap 'proc_stop "$alive" TERM 5; ip netns del "$prefix-$dead-x" 2>/dev/null; ip netns del "$prefix-$alive-x" 2>/dev/null; netns_remove_all' EXIT
ip netns add "$prefix-$dead-x"
ip netns add "$prefix-$alive-x"
netns_begin "$prefix"
check [ "$netns_tag" = "$prefix-$$" ]
check [ ! -e "/run/netns/$prefix-$dead-x" ]
check [ -e "/run/netns/$prefix-$alive-x" ]
netns_add y
check [ -e "/run/netns/$prefix-$$-y" ]
netns_remove_all
check [ ! -e "/run/netns/$prefix-$$-y" ]
[ "$failures" -eq 0 ] || exit 1
echo "support_shell_test: passed"
