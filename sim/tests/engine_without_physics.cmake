# An emulator built without MuJoCo refuses --engine physics with one line naming why, exit 2,
# and its help offers the simple engine only.
#   cmake -DSIM=<torvane-sim> -DEMULATOR=<program|arg|...> -P engine_without_physics.cmake
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} "${SIM}" --level low --engine physics
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(expected "torvane-sim: --engine physics is not available: built without MuJoCo\n")
if(NOT status EQUAL 2 OR NOT out STREQUAL "" OR NOT err STREQUAL expected)
  message(FATAL_ERROR "--engine physics: exit ${status}, stdout '${out}', stderr '${err}'")
endif()

execute_process(COMMAND ${emulator} "${SIM}" --help
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "--engine simple +the plain joint model"
   OR NOT out MATCHES "built without MuJoCo" OR out MATCHES "--mjcf")
  message(FATAL_ERROR "--help: exit ${status}: ${out}${err}")
endif()
