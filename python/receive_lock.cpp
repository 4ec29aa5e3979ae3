#include "receive_lock.h"

#include <chrono>
#include <mutex>

namespace torvane_python {

namespace {

std::timed_mutex& Lock() {
  static std::timed_mutex lock;
  return lock;
}

constexpr std::chrono::milliseconds kSlice{50};

}  // namespace

ReceiveLock::ReceiveLock() {
  if (Lock().try_lock()) {
    held_ = true;
    return;
  }
  for (;;) {
    PyThreadState* const saved = PyEval_SaveThread();
    const bool got = Lock().try_lock_for(kSlice);
    PyEval_RestoreThread(saved);
    if (got) {
      held_ = true;
      return;
    }
    if (PyErr_CheckSignals() != 0) return;
  }
}

ReceiveLock::~ReceiveLock() {
  if (held_) Lock().unlock();
}

PyObject* ReceiveCall(TORVANE::UDP& udp) {
  ReceiveLock lock;
  if (!lock.Ok()) return nullptr;
  // Only a timed Recv waits; the others return at once and keep the interpreter lock.
  if (udp.recvTimeoutMs <= 0) return PyLong_FromLong(udp.Recv());
  PyThreadState* const saved = PyEval_SaveThread();
  const int result = udp.Recv();
  PyEval_RestoreThread(saved);
  if (PyErr_CheckSignals() != 0) return nullptr;
  return PyLong_FromLong(result);
}

}  // namespace torvane_python
