# torvane_add_skipped_test(<name> <reason>...): a test standing for tests this build leaves out.
# It prints the reason (its arguments joined) and reports itself skipped, so a missing
# dependency never passes in silence.
function(torvane_add_skipped_test name)
  string(JOIN "" reason ${ARGN})
  message(STATUS "${name} tests skipped: ${reason}")
  add_test(NAME ${name} COMMAND sh -c "printf '%s\\n' \"$1\"; exit 77" sh "skipped: ${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS skipped)
endfunction()
