# shellcheck shell=bash
# Child processes of a shell test, sourced: each is stopped within a bounded time and reaped.
#   proc_stop PID [SIGNAL] [GRACE_S]   sends SIGNAL (default TERM); SIGKILL if PID has not ended
#                                      GRACE_S (default 5) seconds later; reaps it. Returns 0 if
#                                      it ended by itself, 1 if it had to be killed.
#   proc_wait PID LIMIT_S              waits up to LIMIT_S for PID to end by itself, then stops
#                                      it as proc_stop; sets proc_status to its exit status
#                                      (137 or similar if it was killed) and returns 0 if it
#                                      ended by itself.
# Only the test's own children (started with &) may be given: wait reaps them.

# shellcheck disable=SC2034  # read by the sourcing script
proc_status=0

# True once PID has ended (a zombie counts: it is reaped by the wait that follows).
proc_ended() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }
  case $stat in Z* | X*) return 0 ;; esac
  return 1
}

# Polls for the end of PID until the deadline (seconds since the epoch, with fraction).
proc_until() {
  local pid=$1 deadline=$2
  while ! proc_ended "$pid"; do
    if awk -v d="$deadline" -v n="$(date +%s.%N)" 'BEGIN{exit !(n >= d)}'; then return 1; fi
    sleep 0.05
  done
  return 0
}

proc_deadline() { awk -v s="$1" -v n="$(date +%s.%N)" 'BEGIN{printf "%.3f", n + s}'; }

proc_stop() {
  local pid=$1 sig=${2:-TERM} grace=${3:-5} ended=0
  kill "-$sig" "$pid" 2>/dev/null
  if ! proc_until "$pid" "$(proc_deadline "$grace")"; then
    kill -KILL "$pid" 2>/dev/null
    ended=1
  fi
  wait "$pid" 2>/dev/null
  proc_status=$?
  return $ended
}

proc_wait() {
  local pid=$1 limit=$2
  if proc_until "$pid" "$(proc_deadline "$limit")"; then
    wait "$pid" 2>/dev/null
    proc_status=$?
    return 0
  fi
  proc_stop "$pid" TERM 5
  return 1
}
