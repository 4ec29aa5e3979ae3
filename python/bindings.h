// Registration functions of the robot_interface module, one per file, called in the order the
// module needs: enumerations and classes first, then the records; then the hot entries, which
// replace registered functions once every type they take is known.
#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

namespace torvane_python {

void bind_enums(pybind11::module_& m);
void bind_udp(pybind11::module_& m);
void bind_safety(pybind11::module_& m);
void bind_records(pybind11::module_& m);

// Type set-up of the record classes that views are made of, and of those that embed them.
void view_component_setup(PyHeapTypeObject* heap_type);
void view_parent_setup(PyHeapTypeObject* heap_type);

void install_record_views(pybind11::module_& m);
void install_fast_calls(pybind11::module_& m);

}  // namespace torvane_python
