# Fails unless LIBRARY defines exactly the dynamic symbols in EXPECTED
# (comma-separated, sorted).
find_program(NM NAMES nm REQUIRED)
execute_process(
  COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE table
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" rows "${table}")
set(found)
foreach(row IN LISTS rows)
  if(row MATCHES "^([^ ]+) [TtWwDdBbRr] ")
    list(APPEND found "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT found)
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports\n  ${found}\nexpected\n  ${expected}")
endif()
message(STATUS "exports: ${found}")
