# Fails unless the MSVC import library LIBRARY imports exactly the names in
# EXPECTED (comma-separated), all from the DLL named DLL, with the symbols a C
# compiler of BITNESS (x86 or x64) refers to them by: on x86 the C calling
# convention's leading underscore (_MA, __imp__MA), on x64 the plain name.
# Reads the members with READOBJ (llvm-readobj).
cmake_policy(VERSION 3.25)

execute_process(COMMAND ${READOBJ} ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${READOBJ} cannot read ${LIBRARY}")
endif()

if(BITNESS STREQUAL "x86")
  set(decoration "_")
else()
  set(decoration "")
endif()

# One member per import: "File: <dll>", "Format: COFF-import-file", then
# its symbols, "Symbol: __imp_<decorated>" and "Symbol: <decorated>".
string(REPLACE "\nFile: " ";File: " members "${dump}")
set(imported)
set(problems)
foreach(member IN LISTS members)
  if(NOT member MATCHES "^File: [^\n]+\nFormat: COFF-import-file\n")
    continue()  # the import descriptor and its terminators
  endif()
  string(REGEX MATCH "^File: ([^\n]+)" _ "${member}")
  set(dll "${CMAKE_MATCH_1}")
  string(REGEX MATCH "Symbol: __imp_${decoration}([A-Za-z0-9_]+)\n" _ "${member}")
  set(name "${CMAKE_MATCH_1}")
  if(NOT dll STREQUAL DLL)
    list(APPEND problems "${name} is imported from ${dll}, not ${DLL}")
  endif()
  if(NOT member MATCHES "\nSymbol: ${decoration}${name}\n")
    list(APPEND problems "${name} has no symbol ${decoration}${name} for a C caller to link")
  endif()
  list(APPEND imported "${name}")
endforeach()
list(SORT imported)
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT expected)
if(NOT imported STREQUAL expected)
  list(APPEND problems "imports\n  ${imported}\nexpected\n  ${expected}")
endif()
if(problems)
  string(REPLACE ";" "\n  " problems "${problems}")
  message(FATAL_ERROR "${LIBRARY}:\n  ${problems}")
endif()
message(STATUS "${LIBRARY} imports ${imported} from ${DLL}")
