// HighFlightRecorder and LowFlightRecorder, taking robot_interface's records.
#include <pybind11/pybind11.h>

#include <string>

#include "link_bindings.h"
#include "torvane/flight_recorder.h"

namespace py = pybind11;
using namespace TORVANE;

namespace torvane_link {
namespace {

// The recorder has printed the reason on standard output.
[[noreturn]] void CannotWrite(const std::string& where) {
  PyErr_SetString(PyExc_OSError, ("FlightRecorder: cannot write in " + where).c_str());
  throw py::error_already_set();
}

template <typename Recorder>
std::unique_ptr<Recorder> Make(double seconds, double rate_hz) {
  const size_t capacity = Recorder::CapacityFor(seconds, rate_hz);
  if (capacity == 0 || capacity > 10000000) {
    throw py::value_error("FlightRecorder: seconds (" + std::to_string(seconds) +
                          ") and rate_hz (" + std::to_string(rate_hz) +
                          ") must be above 0 and keep at most 10000000 cycles");
  }
  return std::make_unique<Recorder>(capacity);
}

template <typename Recorder, typename Cmd, typename State>
void Bind(py::module_& m, const char* name, const char* doc) {
  py::class_<Recorder>(m, name, doc)
      .def(py::init(&Make<Recorder>), py::arg("seconds") = 2.0, py::arg("rate_hz") = 500.0,
           "Keeps the last `seconds` of a loop running at `rate_hz`.")
      .def("Record", &Recorder::Record, py::arg("time_s"), py::arg("cmd"), py::arg("recv_result"),
           py::arg("state"),
           "One cycle: its time [s], the command as sent, Recv's result, the state as received.")
      .def(
          "WriteCsv",
          [](const Recorder& r, const std::string& path) {
            if (r.WriteCsv(path.c_str()) != 0) CannotWrite(path);
          },
          py::arg("path"),
          "Writes the entries, oldest first, as CSV with a header row; OSError if it cannot.")
      .def(
          "WriteCsvInDirectory",
          [](const Recorder& r, const std::string& directory) {
            char path[4096];
            if (r.WriteCsvInDirectory(directory.c_str(), path, sizeof path) != 0) {
              CannotWrite(directory);
            }
            return std::string(path);
          },
          py::arg("directory"),
          "Writes the CSV into a new file flight-<level>-<local date and time>.csv in the "
          "directory and returns its path; OSError if it cannot.")
      .def("Clear", &Recorder::Clear, "Forgets every entry.")
      .def("Size", &Recorder::Size, "Entries kept.")
      .def("Capacity", &Recorder::Capacity, "Entries the ring holds.")
      .def("Recorded", &Recorder::Recorded, "Cycles recorded since construction.");
}

}  // namespace

void bind_flight_recorder(py::module_& m) {
  Bind<HighFlightRecorder, HighCmd, HighState>(
      m, "HighFlightRecorder", "The last seconds of a high-level loop (HighCmd, HighState).");
  Bind<LowFlightRecorder, LowCmd, LowState>(
      m, "LowFlightRecorder", "The last seconds of a low-level loop (LowCmd, LowState).");
}

}  // namespace torvane_link
