# Runs a unit test program built with a deliberate fault and passes only when
# it fails, in each of the cases that catch that fault.
#   PROGRAM        the test program
#   FAILING_CASES  the cases that must fail, separated by ;
#   FAULT          the fault's name, for the messages
# Only those cases run: with the fault in, others may spin through every
# bound of the fake clock.
string(REPLACE ";" ":" filter "${FAILING_CASES}")
execute_process(COMMAND ${PROGRAM} --gtest_filter=${filter} RESULT_VARIABLE status OUTPUT_VARIABLE output
                ERROR_VARIABLE output TIMEOUT 100)
if(status EQUAL 0)
  message(FATAL_ERROR "the unit tests passed against ${FAULT}: they cannot catch it")
endif()
foreach(case IN LISTS FAILING_CASES)
  string(FIND "${output}" "[  FAILED  ] ${case}" found)
  if(found EQUAL -1)
    message("${output}")
    message(FATAL_ERROR "${case} did not fail against ${FAULT}")
  endif()
endforeach()
message(STATUS "the unit tests failed against ${FAULT}, in the cases that catch it")
