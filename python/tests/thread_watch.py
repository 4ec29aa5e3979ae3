"""Threads in the tests: waiting until another thread sleeps in one of the named system calls
(read from /proc), so that a test can signal it there and not before; and counting how far a
second thread gets while this one waits."""

import platform
import signal
import threading

# System call numbers of the waits the tests look for.
_CALLS = {
    "x86_64": {"select": 23, "pselect6": 270, "poll": 7, "ppoll": 271, "clock_nanosleep": 230},
    "aarch64": {"pselect6": 72, "ppoll": 73, "clock_nanosleep": 115},
}


def waiting_in(native_id: int, names: tuple) -> bool:
    numbers = {n for name, n in _CALLS.get(platform.machine(), {}).items() if name in names}
    try:
        with open(f"/proc/self/task/{native_id}/syscall") as f:
            fields = f.read().split()
    except OSError:
        return False
    return bool(fields) and fields[0].isdigit() and int(fields[0]) in numbers


def when_waiting(native_id: int, names: tuple, action, limit_s: float = 10.0) -> threading.Thread:
    """Starts a thread that runs action() once the thread `native_id` waits in one of `names`
    (checked every millisecond, for at most limit_s)."""
    done = threading.Event()

    def watch():
        for _ in range(int(limit_s * 1000)):
            if waiting_in(native_id, names):
                action()
                return
            done.wait(0.001)

    thread = threading.Thread(target=watch, daemon=True)
    thread.start()
    return thread


def interrupt_main():
    """SIGINT, as Ctrl-C sends it, to the main thread: a signal for the whole process may be
    taken by any of its threads."""
    signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)


def count_while(action) -> int:
    """Steps a second thread counts while action() runs in this one."""
    started = threading.Event()
    state = {"run": True, "steps": 0}

    def count():
        steps = 0
        started.set()
        while state["run"]:
            steps += 1
        state["steps"] = steps

    thread = threading.Thread(target=count)
    thread.start()
    started.wait()
    action()
    state["run"] = False
    thread.join()
    return state["steps"]
