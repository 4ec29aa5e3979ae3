# cmake -P: configures a small project that finds pybind11 as python/CMakeLists.txt does, once
# with the pinned release (it must pass) and once each with a fake older and newer release (the
# configure must fail and say which release it found and which it needs).
foreach(var MODULE_DIR PYBIND11_DIR PYTHON GENERATOR WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} not given")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/project)
file(WRITE ${WORK_DIR}/project/CMakeLists.txt [=[
cmake_minimum_required(VERSION 3.25)
project(pybind11_pin CXX)
list(APPEND CMAKE_MODULE_PATH ${MODULE_DIR})
find_package(Python COMPONENTS Interpreter Development.Module REQUIRED)
include(TorvanePybind11)
torvane_find_pybind11()
file(WRITE ${CMAKE_BINARY_DIR}/found "${pybind11_VERSION}")
]=])
include(${MODULE_DIR}/TorvanePybind11.cmake)

function(configure name dir result_var output_var)
  execute_process(COMMAND ${CMAKE_COMMAND} -G ${GENERATOR} -S ${WORK_DIR}/project
                          -B ${WORK_DIR}/${name} -DMODULE_DIR=${MODULE_DIR} -Dpybind11_DIR=${dir}
                          -DPython_EXECUTABLE=${PYTHON}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${result_var} ${result} PARENT_SCOPE)
  set(${output_var} "${out}${err}" PARENT_SCOPE)
endfunction()

configure(pinned ${PYBIND11_DIR} result output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the pinned pybind11 was refused:\n${output}")
endif()
file(READ ${WORK_DIR}/pinned/found found)
if(NOT found STREQUAL TORVANE_PYBIND11_VERSION)
  message(FATAL_ERROR "found pybind11 '${found}', expected ${TORVANE_PYBIND11_VERSION}")
endif()

foreach(version 2.13.5 2.13.7 3.0.1)
  set(fake ${WORK_DIR}/fake-${version})
  file(WRITE ${fake}/pybind11Config.cmake "set(pybind11_INCLUDE_DIR ${fake})\n")
  file(WRITE ${fake}/pybind11ConfigVersion.cmake
       "set(PACKAGE_VERSION ${version})\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
  configure(${version} ${fake} result output)
  string(REGEX REPLACE "[ \t\r\n]+" " " output "${output}")
  if(result EQUAL 0)
    message(FATAL_ERROR "pybind11 ${version} was accepted")
  endif()
  if(NOT output MATCHES "pybind11 ${version} found"
     OR NOT output MATCHES "built with pybind11 ${TORVANE_PYBIND11_VERSION} only")
    message(FATAL_ERROR "pybind11 ${version}: not the expected message:\n${output}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS
        "pybind11 pin: ${TORVANE_PYBIND11_VERSION} accepted, 2.13.5, 2.13.7 and 3.0.1 refused")
