# Fails unless the Windows DLL `LIBRARY` exports exactly the names in EXPECTED
# (comma-separated) and imports from no DLL outside ALLOWED (comma-separated,
# compared without regard to case). Reads the tables with OBJDUMP -p.
cmake_policy(VERSION 3.25)

execute_process(
  COMMAND ${OBJDUMP} -p ${LIBRARY}
  OUTPUT_VARIABLE dump
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()

# The export name table: a heading, then one "\t[ordinal] name" row per export.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t[^\n]*\n)*" name_table "${dump}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" name_rows "${name_table}")
set(exports)
foreach(row IN LISTS name_rows)
  string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" name "${row}")
  list(APPEND exports "${name}")
endforeach()
list(SORT exports)
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT expected)
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports\n  ${exports}\nexpected\n  ${expected}")
endif()

# The import directory: one "\tDLL Name: name" row per imported DLL.
string(REGEX MATCHALL "\tDLL Name: [^\n]+" import_rows "${dump}")
if(NOT import_rows)
  message(FATAL_ERROR "no import table found in ${LIBRARY}")
endif()
string(TOLOWER "${ALLOWED}" allowed)
string(REPLACE "," ";" allowed "${allowed}")
set(imports)
foreach(row IN LISTS import_rows)
  string(REGEX REPLACE "^\tDLL Name: " "" imported "${row}")
  string(TOLOWER "${imported}" imported)
  list(APPEND imports "${imported}")
  if(NOT imported IN_LIST allowed)
    message(FATAL_ERROR "${LIBRARY} imports from ${imported}; allowed: ${allowed}")
  endif()
endforeach()
message(STATUS "exports: ${exports}; imports from: ${imports}")
