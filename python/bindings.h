// Registration functions of the robot_interface module, one per file, called in the order the
// module needs: enumerations and classes first, then the records.
#pragma once

#include <pybind11/pybind11.h>

namespace torvane_python {

void bind_enums(pybind11::module_& m);
void bind_udp(pybind11::module_& m);
void bind_safety(pybind11::module_& m);
void bind_records(pybind11::module_& m);

}  // namespace torvane_python
