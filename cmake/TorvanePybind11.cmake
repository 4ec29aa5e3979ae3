# The one pybind11 release robot_interface builds with. The record views and fast calls
# (python/bind_record_views.cpp, python/instances.h, python/bind_fast_calls.cpp) work on the
# library's internals: the instance layout (value pointer, holder and weak-reference fields, the
# spare pointer placed right after it), make_new_instance, init_instance, get_type_info, and the
# shape of a bound method. None of that is public interface, so any other release is refused.
set(TORVANE_PYBIND11_VERSION 2.13.6)

# torvane_find_pybind11(): find_package(pybind11) for that release. Leaves pybind11_FOUND false
# when there is none at all; stops the configure when the one found is another release.
macro(torvane_find_pybind11)
  find_package(pybind11 CONFIG QUIET)
  if(pybind11_FOUND AND NOT pybind11_VERSION VERSION_EQUAL TORVANE_PYBIND11_VERSION)
    message(FATAL_ERROR
      "pybind11 ${pybind11_VERSION} found (${pybind11_DIR}), but robot_interface is built with "
      "pybind11 ${TORVANE_PYBIND11_VERSION} only: its record views rely on that release's "
      "internal instance layout. Run scripts/bootstrap.sh (it unpacks "
      "${TORVANE_PYBIND11_VERSION} into .deps/pybind11), or point pybind11_DIR at a "
      "${TORVANE_PYBIND11_VERSION} install, or configure with -DTORVANE_BUILD_PYTHON=OFF.")
  endif()
endmacro()
