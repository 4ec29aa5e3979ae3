// LinkMonitor and LinkEvent. The callback is a Python callable, called from Update with the
// interpreter lock held; what it raises is raised by Update once the monitor's state is complete.
#include <pybind11/pybind11.h>

#include <string>

#include "link_bindings.h"
#include "torvane/link_monitor.h"

namespace py = pybind11;
using TORVANE::LinkEvent;
using TORVANE::LinkMonitor;

namespace torvane_link {
namespace {

class PyLinkMonitor {
 public:
  PyLinkMonitor(double period_s, double lost_after_s) : monitor_(period_s, lost_after_s) {
    if (!monitor_.Valid()) {
      throw py::value_error("LinkMonitor: the period must be at least 1e-06 s, not " +
                            std::to_string(period_s));
    }
  }

  bool Update(int recv_result) {
    const bool lost = monitor_.Update(recv_result);
    if (pending_) {
      py::error_already_set error = std::move(*pending_);
      pending_.reset();
      throw error;
    }
    return lost;
  }

  void SetCallback(py::object callback) {
    callback_ = std::move(callback);
    if (callback_.is_none()) {
      monitor_.SetCallback(nullptr, nullptr);
    } else {
      monitor_.SetCallback(&Trampoline, this);
    }
  }

  const LinkMonitor& monitor() const { return monitor_; }
  LinkMonitor& monitor() { return monitor_; }

 private:
  static void Trampoline(LinkEvent event, const LinkMonitor&, void* user) {
    auto* self = static_cast<PyLinkMonitor*>(user);
    if (self->pending_) return;  // the first error wins
    try {
      self->callback_(event, py::cast(self, py::return_value_policy::reference));
    } catch (py::error_already_set& error) {
      self->pending_.reset(new py::error_already_set(std::move(error)));
    }
  }

  LinkMonitor monitor_;
  py::object callback_ = py::none();
  std::unique_ptr<py::error_already_set> pending_;
};

}  // namespace

void bind_link_monitor(py::module_& m) {
  py::enum_<LinkEvent>(m, "LinkEvent", "What the link did: lost, or restored after a loss.")
      .value("Lost", LinkEvent::kLost)
      .value("Restored", LinkEvent::kRestored);

  using M = PyLinkMonitor;
  py::class_<M>(m, "LinkMonitor",
                "Link quality from each cycle's Recv result, counted in cycles of the period.")
      .def(py::init<double, double>(), py::arg("period_s"), py::arg("lost_after_s") = 0.1,
           "period_s: the loop's period [s]; lost_after_s: seconds without a valid state after "
           "which the link counts as lost (at least one cycle).")
      .def("Update", &M::Update, py::arg("recv_result"),
           "One cycle: Recv's result (0 = a valid state). Returns True while the link is lost.")
      .def("SetCallback", &M::SetCallback, py::arg("callback"),
           "callback(event, monitor) on each LinkEvent, called from Update; None for none.")
      .def(
          "Reset", [](M& s) { s.monitor().Reset(); }, "Back to the state of a new monitor.")
      .def(
          "CyclesSinceValid", [](const M& s) { return s.monitor().CyclesSinceValid(); },
          "Cycles since the last valid state (all cycles so far if none came yet).")
      .def(
          "SecondsSinceValid", [](const M& s) { return s.monitor().SecondsSinceValid(); },
          "CyclesSinceValid() times the period [s].")
      .def(
          "SuccessRate", [](const M& s) { return s.monitor().SuccessRate(); },
          "Share of the last second's cycles with a valid state, 0 to 1 (1 before any cycle).")
      .def(
          "LongestGapCycles", [](const M& s) { return s.monitor().LongestGapCycles(); },
          "The longest run of cycles without a valid state, the current one included.")
      .def(
          "LongestGapSeconds", [](const M& s) { return s.monitor().LongestGapSeconds(); },
          "LongestGapCycles() times the period [s].")
      .def(
          "Lost", [](const M& s) { return s.monitor().Lost(); },
          "True from the loss until the next valid state.")
      .def(
          "Cycles", [](const M& s) { return s.monitor().Cycles(); }, "Cycles so far.")
      .def(
          "ValidCycles", [](const M& s) { return s.monitor().ValidCycles(); },
          "Cycles with a valid state so far.")
      .def(
          "LostEvents", [](const M& s) { return s.monitor().LostEvents(); },
          "How often the link was lost so far.")
      .def(
          "Period", [](const M& s) { return s.monitor().Period(); }, "The period [s].")
      .def(
          "LostAfterCycles", [](const M& s) { return s.monitor().LostAfterCycles(); },
          "Cycles without a valid state after which the link counts as lost.")
      .def(
          "WindowCycles", [](const M& s) { return s.monitor().WindowCycles(); },
          "Cycles in the success rate's window (one second).");
}

}  // namespace torvane_link
