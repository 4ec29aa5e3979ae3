# cmake --install of the python component into a fresh prefix, then an import from there.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}
                        --component python
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${out}")
endif()
set(site ${WORK_DIR}/${SITE_DIR})
foreach(f robot_interface.pyi py.typed)
  if(NOT EXISTS ${site}/${f})
    message(FATAL_ERROR "${f} not installed into ${site}")
  endif()
endforeach()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${site} ${PYTHON} -c
          "import robot_interface as ri, os; print(os.path.dirname(ri.__file__)); ri.HighCmd()"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT rc EQUAL 0 OR NOT out STREQUAL site)
  message(FATAL_ERROR "import from ${site} failed (${rc}): ${out} ${err}")
endif()
