#include <pybind11/pybind11.h>

#include "bindings.h"

namespace py = pybind11;

// The registration order shows in the generated signatures: UDP and Safety are bound before the
// records, so their record parameters read as TORVANE::HighCmd and so on. The hot entries come
// last: they take over registered functions (keeping their names, docstrings and signatures)
// once every type they accept is registered.
PYBIND11_MODULE(robot_interface, m, py::mod_gil_not_used(false)) {
  torvane_python::bind_enums(m);
  torvane_python::bind_udp(m);
  torvane_python::bind_safety(m);
  torvane_python::bind_records(m);
  torvane_python::install_record_views(m);
  torvane_python::install_fast_calls(m);
}
