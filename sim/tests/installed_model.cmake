# The installed emulator finds its physics model under <prefix>/share/torvane/models, wherever
# the prefix is: install the sim component into a scratch prefix and run it there briefly.
#   cmake -DBUILD_DIR=... -DSCRATCH=... -P installed_model.cmake
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${SCRATCH}"
                        --component sim
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "installing the sim component failed")
endif()
# The model is loaded before the port is opened: a port another program holds still shows the
# model was found.
execute_process(COMMAND "${SCRATCH}/bin/torvane-sim" --level low --port 47913 --duration 0.05
                RESULT_VARIABLE ran OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE_RECURSE "${SCRATCH}")
if(NOT (out MATCHES "level on" OR err MATCHES "cannot listen") OR err MATCHES "model")
  message(FATAL_ERROR "the installed torvane-sim did not start (${ran}): ${out}${err}")
endif()
