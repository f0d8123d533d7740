# Makes the Windows zip with cpack from the build tree BUILD_DIR into
# WORK_DIR, unpacks it and fails unless it is named NAME.zip and holds, under
# the folder NAME, the DLLs, orvexctl.exe, the import libraries, the headers,
# the Python bindings and README.txt; bin\ holds nothing else (no compiler
# runtime beside the DLLs), every program is of the object format FORMAT, and
# the three DLLs export exactly CARD_EXPORTS, SIM_EXPORTS and
# DIAGNOSIS_EXPORTS (comma-separated) and import from nothing outside ALLOWED.
# Variables: CPACK, BUILD_DIR, WORK_DIR, NAME, FORMAT, OBJDUMP, CARD_EXPORTS,
# SIM_EXPORTS, DIAGNOSIS_EXPORTS, ALLOWED, BITNESS_WORDS, CHECK_PE_TABLES.
cmake_policy(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/unpacked)
execute_process(COMMAND ${CPACK} --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${out}${err}")
endif()

file(GLOB zips RELATIVE ${WORK_DIR} ${WORK_DIR}/*.zip)
if(NOT zips STREQUAL "${NAME}.zip")
  message(FATAL_ERROR "cpack made '${zips}', expected ${NAME}.zip")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${WORK_DIR}/${NAME}.zip
  WORKING_DIRECTORY ${WORK_DIR}/unpacked RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${NAME}.zip")
endif()

file(GLOB top RELATIVE ${WORK_DIR}/unpacked ${WORK_DIR}/unpacked/*)
if(NOT top STREQUAL NAME)
  message(FATAL_ERROR "the zip's top level holds '${top}', expected the one folder ${NAME}")
endif()
set(root ${WORK_DIR}/unpacked/${NAME})

set(problems)
foreach(path
    bin/orvexportio.dll bin/orvexportio-sim.dll bin/orvexportio-diagnosis.dll bin/orvexctl.exe
    lib/liborvexportio.dll.a lib/liborvexportio-sim.dll.a
    include/orvexportio.h include/orvexportio_sim.h include/orvexportio_diagnosis.h
    README.txt)
  if(NOT EXISTS ${root}/${path})
    list(APPEND problems "missing ${path}")
  endif()
endforeach()
if(NOT EXISTS ${root}/python/orvexportio/__init__.py AND NOT EXISTS ${root}/python/orvexportio.py)
  list(APPEND problems "missing the Python bindings in python/")
endif()
file(GLOB_RECURSE cached RELATIVE ${root} ${root}/*.pyc)
if(cached)
  list(APPEND problems "compiled Python files: ${cached}")
endif()

file(GLOB bin RELATIVE ${root}/bin ${root}/bin/*)
list(SORT bin)
if(NOT bin STREQUAL "orvexctl.exe;orvexportio-diagnosis.dll;orvexportio-sim.dll;orvexportio.dll")
  list(APPEND problems "bin/ holds ${bin}, expected orvexctl.exe, orvexportio-diagnosis.dll, "
                       "orvexportio-sim.dll, orvexportio.dll")
endif()

foreach(program bin/orvexportio.dll bin/orvexportio-sim.dll bin/orvexportio-diagnosis.dll
        bin/orvexctl.exe)
  execute_process(COMMAND ${OBJDUMP} -f ${root}/${program} OUTPUT_VARIABLE header)
  if(NOT header MATCHES "file format ${FORMAT}\n")
    list(APPEND problems "${program} is not ${FORMAT}")
  endif()
endforeach()

file(READ ${root}/README.txt readme)
if(NOT readme MATCHES "for ${BITNESS_WORDS} Windows hosts")
  list(APPEND problems "README.txt does not say it is for ${BITNESS_WORDS} hosts")
endif()

foreach(check "orvexportio.dll|${CARD_EXPORTS}" "orvexportio-sim.dll|${SIM_EXPORTS}"
              "orvexportio-diagnosis.dll|${DIAGNOSIS_EXPORTS}")
  string(REPLACE "|" ";" check "${check}")
  list(GET check 0 library)
  list(GET check 1 exports)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DLIBRARY=${root}/bin/${library} -DOBJDUMP=${OBJDUMP}
            -DEXPECTED=${exports} -DALLOWED=${ALLOWED} -P ${CHECK_PE_TABLES}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(APPEND problems "bin/${library}: ${err}")
  endif()
endforeach()

if(problems)
  string(REPLACE ";" "\n  " problems "${problems}")
  message(FATAL_ERROR "${NAME}.zip:\n  ${problems}")
endif()
message(STATUS "${NAME}.zip holds what it should")
