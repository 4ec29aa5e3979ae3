// Hot entries for the calls of a control cycle. The binding library tries overloads in order and
// pays for each one that fails (SetSend(LowCmd) and GetRecv(LowState) come third), and every
// call builds an argument tuple and conversion state. These entries take the common case at a
// fixed cost: positional arguments that are bound records, an int or a float of exactly the
// parameter's type, on an endpoint whose lengths fit. Anything else (texts, subclasses of int,
// keywords, lengths that the wrappers refuse) goes to the library's function unchanged, which
// chooses the same overload, or raises the same error, as before.
#include <Python.h>
#include <pybind11/pybind11.h>

#include <climits>

#include "bindings.h"
#include "instances.h"
#include "receive_lock.h"
#include "torvane/records.h"
#include "torvane/safety.h"
#include "torvane/udp.h"

namespace py = pybind11;
using namespace TORVANE;

namespace torvane_python {
namespace {

// An exact int within int32, as the library's conversion would take it.
bool ExactInt32(PyObject* object, int* out) {
  if (!PyLong_CheckExact(object)) return false;
  int overflow = 0;
  const long value = PyLong_AsLongAndOverflow(object, &overflow);
  if (overflow != 0 || value < INT_MIN || value > INT_MAX) return false;
  *out = static_cast<int>(value);
  return true;
}

PyObject* Send(PyObject* const* args, Py_ssize_t nargs) {
  UDP* udp = nargs == 1 ? Held<UDP>(args[0]) : nullptr;
  return udp ? PyLong_FromLong(udp->Send()) : nullptr;
}

PyObject* Recv(PyObject* const* args, Py_ssize_t nargs) {
  UDP* udp = nargs == 1 ? Held<UDP>(args[0]) : nullptr;
  return udp ? ReceiveCall(*udp) : nullptr;
}

// Records in the order of the overloads; the text overload (first) is never a record.
PyObject* SetSend(PyObject* const* args, Py_ssize_t nargs) {
  UDP* udp = nargs == 2 ? Held<UDP>(args[0]) : nullptr;
  if (udp == nullptr) return nullptr;
  if (HighCmd* cmd = Held<HighCmd>(args[1])) {
    return udp->sendLength >= HIGH_CMD_LENGTH ? PyLong_FromLong(udp->SetSend(*cmd)) : nullptr;
  }
  if (LowCmd* cmd = Held<LowCmd>(args[1])) {
    return udp->sendLength >= LOW_CMD_LENGTH ? PyLong_FromLong(udp->SetSend(*cmd)) : nullptr;
  }
  return nullptr;
}

PyObject* GetRecv(PyObject* const* args, Py_ssize_t nargs) {
  UDP* udp = nargs == 2 ? Held<UDP>(args[0]) : nullptr;
  if (udp == nullptr) return nullptr;
  if (HighState* state = Held<HighState>(args[1])) {
    if (udp->recvLength < HIGH_STATE_LENGTH) return nullptr;
    udp->GetRecv(*state);
    Py_RETURN_NONE;
  }
  if (LowState* state = Held<LowState>(args[1])) {
    if (udp->recvLength < LOW_STATE_LENGTH) return nullptr;
    udp->GetRecv(*state);
    Py_RETURN_NONE;
  }
  return nullptr;
}

PyObject* InitCmdData(PyObject* const* args, Py_ssize_t nargs) {
  UDP* udp = nargs == 2 ? Held<UDP>(args[0]) : nullptr;
  if (udp == nullptr) return nullptr;
  if (HighCmd* cmd = Held<HighCmd>(args[1])) {
    udp->InitCmdData(*cmd);
    Py_RETURN_NONE;
  }
  if (LowCmd* cmd = Held<LowCmd>(args[1])) {
    udp->InitCmdData(*cmd);
    Py_RETURN_NONE;
  }
  return nullptr;
}

PyObject* PositionLimit(PyObject* const* args, Py_ssize_t nargs) {
  Safety* safety = nargs == 2 ? Held<Safety>(args[0]) : nullptr;
  LowCmd* cmd = safety ? Held<LowCmd>(args[1]) : nullptr;
  if (cmd == nullptr) return nullptr;
  safety->PositionLimit(*cmd);
  Py_RETURN_NONE;
}

PyObject* PowerProtect(PyObject* const* args, Py_ssize_t nargs) {
  Safety* safety = nargs == 4 ? Held<Safety>(args[0]) : nullptr;
  LowCmd* cmd = safety ? Held<LowCmd>(args[1]) : nullptr;
  LowState* state = cmd ? Held<LowState>(args[2]) : nullptr;
  int factor = 0;
  if (state == nullptr || !ExactInt32(args[3], &factor)) return nullptr;
  return PyLong_FromLong(safety->PowerProtect(*cmd, *state, factor));
}

PyObject* PositionProtect(PyObject* const* args, Py_ssize_t nargs) {
  Safety* safety = nargs == 4 ? Held<Safety>(args[0]) : nullptr;
  LowCmd* cmd = safety ? Held<LowCmd>(args[1]) : nullptr;
  LowState* state = cmd ? Held<LowState>(args[2]) : nullptr;
  if (state == nullptr || !PyFloat_CheckExact(args[3])) return nullptr;
  return PyLong_FromLong(safety->PositionProtect(*cmd, *state, PyFloat_AS_DOUBLE(args[3])));
}

}  // namespace

void install_fast_calls(py::module_& m) {
  const py::object udp = m.attr("UDP");
  FastEntry<Send>::Install(udp, "Send");
  FastEntry<Recv>::Install(udp, "Recv");
  FastEntry<InitCmdData>::Install(udp, "InitCmdData");
  FastEntry<SetSend>::Install(udp, "SetSend");
  FastEntry<GetRecv>::Install(udp, "GetRecv");
  const py::object safety = m.attr("Safety");
  FastEntry<PositionLimit>::Install(safety, "PositionLimit");
  FastEntry<PowerProtect>::Install(safety, "PowerProtect");
  FastEntry<PositionProtect>::Install(safety, "PositionProtect");
}

}  // namespace torvane_python
