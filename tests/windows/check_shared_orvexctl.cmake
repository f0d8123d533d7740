# Successive orvexctl.exe runs under Wine with ORVEXPORTIO_SIM_SHARED set see
# the same axes: one moves axis 1 to 2.5, the next waits for it and reads 2.5,
# where a run without the variable reads 0. The bus's name is new on every
# run of the test, as a shared bus outlives its processes.
# Variables: EMULATOR, PROGRAM.
cmake_policy(VERSION 3.25)

string(RANDOM LENGTH 8 ALPHABET 0123456789abcdef suffix)
set(name "orvexctl-test-${suffix}")

function(run_orvexctl shared expected)
  if(shared)
    set(ENV{ORVEXPORTIO_SIM_SHARED} ${name})
  else()
    unset(ENV{ORVEXPORTIO_SIM_SHARED})
  endif()
  execute_process(COMMAND ${EMULATOR} ${PROGRAM} --simulate ${ARGN}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status TIMEOUT 60)
  string(REPLACE "\r" "" out "${out}")
  if(NOT status STREQUAL "0" OR NOT out STREQUAL expected)
    message(FATAL_ERROR "orvexctl --simulate ${ARGN} (shared: ${shared}): status ${status}\n"
      "--- standard output:\n${out}--- expected:\n${expected}--- standard error:\n${err}")
  endif()
endfunction()

run_orvexctl(ON "delivered\n" ma 1 2.5)
run_orvexctl(ON "done\n2.5\n" ws 1 tp 1)
run_orvexctl(OFF "0\n" tp 1)
