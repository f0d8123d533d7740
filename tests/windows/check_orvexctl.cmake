# Runs orvexctl.exe under Wine and fails unless it exits with STATUS, prints
# on standard output what the file EXPECTED holds (nothing when EXPECTED is
# not given) and, when ERROR is given, prints something matching it on
# standard error. Carriage returns are dropped, virtual times read "[t]" and
# run lengths "N", so that the comparison is exact otherwise.
# Variables: EMULATOR, PROGRAM, ARGUMENTS ('|'-separated), STATUS, EXPECTED, ERROR.
cmake_policy(VERSION 3.25)

string(REPLACE "|" ";" arguments "${ARGUMENTS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${arguments}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
string(REPLACE "\r" "" out "${out}")
string(REGEX REPLACE "\\[ *[0-9]+\\.[0-9]+ s\\]" "[t]" out "${out}")
string(REGEX REPLACE "the last of [0-9]+ in a row" "the last of N in a row" out "${out}")

set(expected "")
if(EXPECTED)
  file(READ ${EXPECTED} expected)
endif()
set(problems)
if(NOT status STREQUAL STATUS)
  list(APPEND problems "exit status ${status}, not ${STATUS}")
endif()
if(NOT out STREQUAL expected)
  list(APPEND problems "standard output differs")
endif()
if(ERROR AND NOT err MATCHES "${ERROR}")
  list(APPEND problems "standard error does not match '${ERROR}'")
endif()
if(problems)
  string(REPLACE ";" ", " problems "${problems}")
  message(FATAL_ERROR "orvexctl ${arguments}: ${problems}\n"
    "--- standard output:\n${out}--- expected:\n${expected}--- standard error:\n${err}")
endif()
