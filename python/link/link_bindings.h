// Registration functions of the torvane_link module, one per piece.
#pragma once

#include <pybind11/pybind11.h>

namespace torvane_link {

void bind_link_monitor(pybind11::module_& m);
void bind_periodic_loop(pybind11::module_& m);
void bind_flight_recorder(pybind11::module_& m);

}  // namespace torvane_link
