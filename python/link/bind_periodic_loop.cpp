// PeriodicLoop. Its sleep runs with the interpreter lock released; a signal ends the sleep early
// and its handler runs at once (Ctrl-C raises KeyboardInterrupt), the deadline staying pending.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>

#include <string>

#include "link_bindings.h"
#include "torvane/periodic_loop.h"

namespace py = pybind11;
using TORVANE::PeriodicLoop;

namespace torvane_link {
namespace {

// One Wait with the interpreter lock released; raises what a signal handler raised.
bool WaitReleased(PeriodicLoop& loop) {
  for (;;) {
    bool interrupted = false;
    bool on_time;
    {
      py::gil_scoped_release released;
      on_time = loop.Wait(&interrupted);
    }
    if (!interrupted) return on_time;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  }
}

std::unique_ptr<PeriodicLoop> Make(double period_s) {
  auto loop = std::make_unique<PeriodicLoop>(period_s);
  if (!loop->Valid()) {
    throw py::value_error("PeriodicLoop: the period must be above 0 s and at most 3600 s, not " +
                          std::to_string(period_s));
  }
  return loop;
}

}  // namespace

void bind_periodic_loop(py::module_& m) {
  py::class_<PeriodicLoop>(m, "PeriodicLoop",
                           "Sleeps to absolute deadlines on the monotonic clock; an overrunning "
                           "cycle is followed at once and the deadlines are laid anew, never "
                           "caught up.")
      .def(py::init(&Make), py::arg("period_s"), "period_s: above 0 and at most 3600 [s].")
      .def("Start", &PeriodicLoop::Start,
           "Lays the deadlines from now: the first Wait sleeps one period. Counters restart.")
      .def("Wait", &WaitReleased,
           "Ends a cycle: sleeps until its deadline (the interpreter lock released) and returns "
           "True, or returns False at once after an overrun.")
      .def(
          "Run",
          [](PeriodicLoop& loop, const py::object& body, uint64_t cycles, uint64_t every,
             const py::object& slow) {
            if (every != 0 && slow.is_none()) {
              throw py::value_error("PeriodicLoop.Run: every is given without slow");
            }
            return loop.RunWith(
                cycles, [&] { return !body().is(py::bool_(false)); }, every,
                [&] {
                  if (!slow.is_none()) slow();
                },
                [&] { WaitReleased(loop); });
          },
          py::arg("body"), py::arg("cycles") = 0, py::arg("every") = 0,
          py::arg("slow") = py::none(),
          "Runs body() once a period for `cycles` cycles (0: until body returns False), and "
          "slow() before the body every `every` cycles. Returns the cycles run.")
      .def("Period", &PeriodicLoop::Period, "The period [s].")
      .def("Cycles", &PeriodicLoop::Cycles, "Waits since Start.")
      .def("Overruns", &PeriodicLoop::Overruns, "Cycles whose body ended after their deadline.")
      .def("MissedDeadlines", &PeriodicLoop::MissedDeadlines,
           "Deadlines skipped by overruns beyond the overrunning cycle's own.")
      .def("LastPeriodError", &PeriodicLoop::LastPeriodError,
           "The last wake-up's time since the one before, minus the period [s].")
      .def("LastLateness", &PeriodicLoop::LastLateness,
           "How late after its deadline the last wake-up came [s].")
      .def("MaxLateness", &PeriodicLoop::MaxLateness, "The largest lateness since Start [s].");
}

}  // namespace torvane_link
