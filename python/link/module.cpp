// torvane_link: the control loop's helpers (link monitor, periodic loop, flight recorder) beside
// robot_interface, whose surface stays as it is. The recorders take robot_interface's records:
// both modules are built against the same binding library, which shares their registrations, so
// robot_interface is imported first.
#include <pybind11/pybind11.h>

#include "link_bindings.h"
#include "torvane/periodic_loop.h"

namespace py = pybind11;

PYBIND11_MODULE(torvane_link, m) {
  py::module_::import("robot_interface");
  m.doc() =
      "The control loop's helpers: LinkMonitor, PeriodicLoop, HighFlightRecorder and "
      "LowFlightRecorder.";
  m.def("MonotonicSeconds", &TORVANE::MonotonicSeconds,
        "The monotonic clock (CLOCK_MONOTONIC) in seconds; the time to give the recorders.");
  torvane_link::bind_link_monitor(m);
  torvane_link::bind_periodic_loop(m);
  torvane_link::bind_flight_recorder(m);
}
