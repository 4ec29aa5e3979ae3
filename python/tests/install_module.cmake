# cmake --install of the python component into a fresh prefix, then an import from there.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}
                        --component python
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${out}")
endif()
set(site ${WORK_DIR}/${SITE_DIR})
foreach(f robot_interface.pyi robot_interface-stubs/__init__.pyi torvane_link.pyi
         torvane_link-stubs/__init__.pyi)
  if(NOT EXISTS ${site}/${f})
    message(FATAL_ERROR "${f} not installed into ${site}")
  endif()
endforeach()
# A marker loose at the top of site-packages would claim nothing for nobody.
if(EXISTS ${site}/py.typed)
  message(FATAL_ERROR "py.typed installed loose into ${site}")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${site} ${PYTHON} -c
          "import robot_interface as ri, torvane_link as tl, os; print(os.path.dirname(ri.__file__)); tl.HighFlightRecorder().Record(0.0, ri.HighCmd(), 0, ri.HighState())"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0 OR NOT out STREQUAL site)
  message(FATAL_ERROR "import from ${site} failed (${rc}): ${out} ${err}")
endif()

# A type checker finds the installed stubs as a PEP 561 stub package.
if(MYPY)
  file(WRITE ${WORK_DIR}/use.py
       "import robot_interface as ri\nreveal_type(ri.HighState().position)\nri.UDP(0xEE, 1)\n")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${site} ${MYPY} --no-incremental
            --python-version 3.12 ${WORK_DIR}/use.py
    OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT out MATCHES "Revealed type is \"builtins.list\\[builtins.float\\]\"" OR
     NOT out MATCHES "No overload variant of \"UDP\"")
    message(FATAL_ERROR "mypy did not find the installed stubs: ${out} ${err}")
  endif()
endif()
