// Recv and the calls that change what Recv reads, one at a time in the whole process, with the
// interpreter lock released while Recv waits.
//
// The SDK runs Recv in one thread at a time in the process (its timed-wait state and the address
// it learns a client into are shared), and an endpoint's set-up must not change under a running
// Recv. While every call held the interpreter lock, that lock kept them apart; now that a
// waiting Recv releases it, the process-wide receive lock does: Recv, the constructors, the
// setters and SetSend with a text (which can switch the checksum mode) take it. It is never waited
// for while the interpreter lock is held, so the two cannot deadlock.
#pragma once

#include <Python.h>

#include "torvane/udp.h"

namespace torvane_python {

class ReceiveLock {
 public:
  // Takes the lock: at once when it is free; otherwise waits for it with the interpreter lock
  // released, in slices between which signal handlers run. Ok() is false (a Python error set,
  // the lock not held) when a handler raised, KeyboardInterrupt for Ctrl-C.
  ReceiveLock();
  ~ReceiveLock();
  ReceiveLock(const ReceiveLock&) = delete;
  ReceiveLock& operator=(const ReceiveLock&) = delete;
  bool Ok() const { return held_; }

 private:
  bool held_ = false;
};

// UDP.Recv: a new reference to its result, or nullptr with a Python error set. A Recv that can
// wait (a timeout above 0) runs with the interpreter lock released; a signal that arrives
// meanwhile ends the wait (the call returns -1 without counting, as for any wait that returns
// without the socket readable) and its handler's exception, KeyboardInterrupt for Ctrl-C, is
// raised in place of the result. What Recv published and counted stays as it did it.
PyObject* ReceiveCall(TORVANE::UDP& udp);

}  // namespace torvane_python
