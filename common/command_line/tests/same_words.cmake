# One program against the same mistakes: each is refused with exit status 2, nothing on standard
# output and one line on standard error, "<NAME>: <words>", then the program's own tail.
#   cmake -DPROGRAM=<path> -DNAME=<name> [-DTAIL=<regex>] [-DLEAD=a|b] [-DPORT=--port]
#         [-DPORTS=1..65535] [-DNUMBER=--rate|fast] [-DNUMBER_WORDS=<words>]
#         [-DEMULATOR=<program|arg|...>] -P same_words.cmake
# LEAD comes first in every case (a required option, say), so that the mistake is the only one.
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" lead "${LEAD}")
set(failures "")

function(expect words)
  execute_process(COMMAND ${emulator} "${PROGRAM}" ${lead} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" pattern "${NAME}: ${words}")
  if(NOT status EQUAL 2 OR NOT out STREQUAL "" OR NOT err MATCHES "^${pattern}${TAIL}\n$")
    set(failures "${failures}\n  ${ARGN}: exit ${status}, stdout '${out}', stderr '${err}' (want '${NAME}: ${words}')" PARENT_SCOPE)
  endif()
endfunction()

expect("unknown option: --bogus" --bogus)
expect("unknown option: --bogus" --bogus 1)
if(PORT)
  expect("missing value for: ${PORT}" ${PORT})
  foreach(bad 70000 +8082 " 8082" 0x1f92)
    expect("not a port (${PORTS}): ${bad}" ${PORT} "${bad}")
  endforeach()
endif()
if(NUMBER)
  string(REPLACE "|" ";" number "${NUMBER}")
  expect("${NUMBER_WORDS}" ${number})
endif()

if(failures)
  message(FATAL_ERROR "${NAME}: not the common words:${failures}")
endif()
