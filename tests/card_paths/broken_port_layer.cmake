# Shows that the card-path suite catches a faulty port layer: builds
# liborvexportio.so from a copy of the port layer with one deliberate fault,
# runs the suite against it, and passes only when the suite fails, in the
# cases that catch that fault, while the harness itself checks out.
#
#   FAULT          ioperm_once_per_process, one_grant_for_every_card or out_operands_swapped
#   SOURCE_DIR     the library's src/
#   ABI_DIR        the folder of the driver's interface header, orvex_abi.h
#   VERSION_SCRIPT the shipped library's version script, made from the export list
#   PORT_SOURCES   the port layer's sources, separated by |
#   CORE_OBJECTS   the objects above the port layer, separated by |
#   CXX            the compiler
#   WORK_DIR       where the copy is built
#   TEST_PROGRAM   card_paths_test
#   STAND_IN       the kernel stand-in library

string(REPLACE "|" ";" PORT_SOURCES "${PORT_SOURCES}")
string(REPLACE "|" ";" CORE_OBJECTS "${CORE_OBJECTS}")
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# Every change is made by pattern, so that renamed constants do not matter,
# and must be seen to have applied: a patch that silently did nothing would
# make the suite pass against a sound library and this test fail for the
# wrong reason, or, worse, pass for it.
function(apply_fault text_variable)
  set(text "${${text_variable}}")
  if(FAULT STREQUAL "ioperm_once_per_process")
    # The grant remembered for the whole process instead of per thread.
    string(REGEX MATCHALL "thread_local[ \t\r\n]" found "${text}")
    string(REGEX REPLACE "thread_local[ \t\r\n]+" "" patched "${text}")
    # A TLS model means nothing, and to some compilers is an error, on an
    # ordinary variable.
    string(REGEX REPLACE "__attribute__[ \t]*\\(\\(tls_model\\([^)]*\\)\\)\\)" ""
           patched "${patched}")
    string(REGEX REPLACE "\\[\\[gnu::tls_model\\([^)]*\\)\\]\\]" "" patched "${patched}")
    # Only cases whose threads each send their own lines, whatever the
    # scheduling: a thread whose line another carried never asks.
    set(failing_cases "CardThreadsTest\\.EachThreadAsksOncePerCardForExactlyItsRegisters/Instructions"
                      "CardThreadsTest\\.FreshThreadsEachReachTheController/Instructions")
  elseif(FAULT STREQUAL "one_grant_for_every_card")
    # The factory card's registers asked for, whichever card is driven.
    string(REGEX MATCHALL "ioperm\\(base," found "${text}")
    string(REGEX REPLACE "ioperm\\(base," "ioperm(0x340," patched "${text}")
    set(failing_cases "CardThreadsTest\\.EachThreadAsksOncePerCardForExactlyItsRegisters/Instructions")
  elseif(FAULT STREQUAL "out_operands_swapped")
    # outb(value, port) called as outb(port, value).
    string(REGEX MATCHALL "outb[ \t]*\\([^,();]+,[^();]+\\)" found "${text}")
    string(REGEX REPLACE "outb[ \t]*\\(([^,();]+),([^();]+)\\)" "outb(\\2, \\1)" patched "${text}")
    set(failing_cases "CardExportsTest\\.EveryExportSendsItsExactLines/Instructions"
                      "CardExportsTest\\.OneLineCostsFortyOneAccesses/Instructions")
  else()
    message(FATAL_ERROR "unknown FAULT '${FAULT}'")
  endif()
  list(LENGTH found matches)
  if(matches EQUAL 0 OR patched STREQUAL text)
    message(FATAL_ERROR
      "the ${FAULT} patch did not apply to port_linux.cpp: the port layer changed "
      "shape, and this test must be brought up to date with it")
  endif()
  message(STATUS "${FAULT}: patched ${matches} place(s)")
  set(${text_variable} "${patched}" PARENT_SCOPE)
  set(failing_cases "${failing_cases}" PARENT_SCOPE)
endfunction()

set(objects ${CORE_OBJECTS})
set(patched_any FALSE)
foreach(source IN LISTS PORT_SOURCES)
  get_filename_component(name ${source} NAME_WE)
  set(compiled ${source})
  if(name STREQUAL "port_linux")
    file(READ ${source} text)
    apply_fault(text)
    set(compiled ${WORK_DIR}/port_linux_${FAULT}.cpp)
    file(WRITE ${compiled} "${text}")
    set(patched_any TRUE)
  endif()
  execute_process(
    COMMAND ${CXX} -std=c++20 -O2 -g -fPIC -fvisibility=hidden -w -I${SOURCE_DIR} -I${ABI_DIR}
            -c ${compiled} -o ${WORK_DIR}/${name}.o
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "compiling ${compiled} failed")
  endif()
  list(APPEND objects ${WORK_DIR}/${name}.o)
endforeach()
if(NOT patched_any)
  message(FATAL_ERROR "port_linux.cpp is not among the port layer's sources: ${PORT_SOURCES}")
endif()

# The same soname as the shipped library, so that, preloaded, it stands in
# its place beneath the unmodified test program.
set(library ${WORK_DIR}/liborvexportio.so.1)
execute_process(
  COMMAND ${CXX} -shared -o ${library} -Wl,-soname,liborvexportio.so.1
          -Wl,--version-script=${VERSION_SCRIPT} ${objects}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "linking ${library} failed")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -E env LD_PRELOAD=${STAND_IN}:${library}
          ORVEX_EXPECTED_LIBRARY=${library}
          ${TEST_PROGRAM} --gtest_filter=Routes/Card*
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output
  TIMEOUT 280)
message("${output}")

if(status EQUAL 0)
  message(FATAL_ERROR "the suite passed against a port layer with ${FAULT}: it cannot catch it")
endif()
if(output MATCHES "the library under test is|does not come first")
  message(FATAL_ERROR "the suite failed for want of a sound harness, not for the fault")
endif()
foreach(case IN LISTS failing_cases)
  if(NOT output MATCHES "\\[  FAILED  \\] Routes/${case}")
    message(FATAL_ERROR "the suite did not fail Routes/${case} against ${FAULT}")
  endif()
endforeach()
message(STATUS "the suite failed against ${FAULT}, as it must")
