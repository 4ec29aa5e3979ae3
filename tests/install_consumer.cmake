# Installs the build tree into a private prefix, then configures, builds and runs the consumer.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "command failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component Unspecified)
# The installed package carries no test hook: those live in the build tree's internal target.
file(GLOB_RECURSE installed LIST_DIRECTORIES false ${prefix}/*)
foreach(file IN LISTS installed)
  if(file MATCHES "\\.(h|cmake)$")
    file(READ ${file} text)
    foreach(hook force_checksum_path ChecksumPath crc32_table ResetTransportState
                 torvane_testing sdk_testing)
      if(text MATCHES "${hook}")
        message(FATAL_ERROR "the installed ${file} names the test hook ${hook}")
      endif()
    endforeach()
  endif()
endforeach()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
string(REPLACE "|" ";" emulator "${EMULATOR}")
run(${emulator} ${WORK_DIR}/build/consumer)
if(NOT last_output MATCHES "consumer ok")
  message(FATAL_ERROR "unexpected consumer output: ${last_output}")
endif()
