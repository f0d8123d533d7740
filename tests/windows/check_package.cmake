# Makes the Windows zip with cpack from the build tree BUILD_DIR into
# WORK_DIR, unpacks it and fails unless it is named NAME.zip and holds, under
# the folder NAME, the DLLs, orvexctl.exe, the import libraries for MinGW and
# MSVC with the module-definition files, the headers, the Python bindings,
# the C# declarations, README.txt and LabVIEW.txt; bin\ holds nothing else
# (no compiler runtime beside the DLLs), every program is of the object
# format FORMAT, the three DLLs export exactly CARD_EXPORTS, SIM_EXPORTS and
# DIAGNOSIS_EXPORTS (comma-separated) and import from nothing outside
# ALLOWED, their MSVC import libraries import exactly those names for
# BITNESS (x86 or x64), LabVIEW.txt has a row for each of LABVIEW_FUNCTIONS,
# and the lists of the zip's contents in README.txt and in README (the
# project's README.md) name every file in the zip and nothing that is not.
# Variables: CPACK, BUILD_DIR, WORK_DIR, NAME, FORMAT, OBJDUMP, CARD_EXPORTS,
# SIM_EXPORTS, DIAGNOSIS_EXPORTS, ALLOWED, BITNESS_WORDS, CHECK_PE_TABLES,
# READOBJ, BITNESS, CHECK_IMPORT_LIBRARY, LABVIEW_FUNCTIONS, README.
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
    lib/orvexportio.lib lib/orvexportio-sim.lib lib/orvexportio-diagnosis.lib
    lib/orvexportio.def lib/orvexportio-sim.def lib/orvexportio-diagnosis.def
    include/orvexportio.h include/orvexportio_sim.h include/orvexportio_diagnosis.h
    dotnet/Orvexportio.cs dotnet/Example.cs
    README.txt LabVIEW.txt)
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

foreach(check "orvexportio|${CARD_EXPORTS}" "orvexportio-sim|${SIM_EXPORTS}"
              "orvexportio-diagnosis|${DIAGNOSIS_EXPORTS}")
  string(REPLACE "|" ";" check "${check}")
  list(GET check 0 library)
  list(GET check 1 exports)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DLIBRARY=${root}/bin/${library}.dll -DOBJDUMP=${OBJDUMP}
            -DEXPECTED=${exports} -DALLOWED=${ALLOWED} -P ${CHECK_PE_TABLES}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(APPEND problems "bin/${library}.dll: ${err}")
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DLIBRARY=${root}/lib/${library}.lib -DDLL=${library}.dll
            -DEXPECTED=${exports} -DBITNESS=${BITNESS} -DREADOBJ=${READOBJ}
            -P ${CHECK_IMPORT_LIBRARY}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(APPEND problems "lib/${library}.lib: ${err}")
  endif()
endforeach()

# LabVIEW.txt: a row of the function table for each function.
file(READ ${root}/LabVIEW.txt labview)
string(REPLACE "\r" "" labview "${labview}")
string(REPLACE "," ";" functions "${LABVIEW_FUNCTIONS}")
foreach(function IN LISTS functions)
  if(NOT labview MATCHES "\n  ${function} +[a-z]")
    list(APPEND problems "LabVIEW.txt has no row for ${function}")
  endif()
endforeach()

# The lists of the zip's contents, in README.txt (the indented lines after
# "What is in this zip") and in the README (its section on the download). A
# file is named by its path, or by a folder at least two deep that holds it
# (python/orvexportio/); every path named must be in the zip.
function(check_contents_list document text)
  string(REPLACE "\\" "/" text "${text}")
  string(REGEX MATCHALL "(README|LabVIEW)\\.txt|(bin|lib|include|python|dotnet)/[A-Za-z0-9_./-]*"
         tokens "${text}")
  set(named)
  foreach(token IN LISTS tokens)
    string(REGEX REPLACE "\\.+$" "" token "${token}")  # the end of a sentence
    list(APPEND named "${token}")
  endforeach()
  list(REMOVE_DUPLICATES named)
  set(missing)
  foreach(path IN LISTS shipped)
    set(found FALSE)
    foreach(entry IN LISTS named)
      string(FIND "${path}" "${entry}" at)
      if(path STREQUAL entry OR (entry MATCHES "^[^/]+/.+/$" AND at EQUAL 0))
        set(found TRUE)
        break()
      endif()
    endforeach()
    if(NOT found)
      list(APPEND missing "${path}")
    endif()
  endforeach()
  set(stale)
  foreach(entry IN LISTS named)
    if(NOT EXISTS ${root}/${entry})
      list(APPEND stale "${entry}")
    endif()
  endforeach()
  if(missing)
    list(JOIN missing ", " missing)
    list(APPEND problems "${document} does not name ${missing}")
  endif()
  if(stale)
    list(JOIN stale ", " stale)
    list(APPEND problems "${document} names ${stale}, which the zip does not hold")
  endif()
  set(problems "${problems}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE shipped LIST_DIRECTORIES false RELATIVE ${root} ${root}/*)
string(REPLACE "\r" "" readme_text "${readme}")
string(REGEX MATCH "What is in this zip\n-+\n((  [^\n]*\n)*)" _ "${readme_text}")
check_contents_list(README.txt "${CMAKE_MATCH_1}")
file(READ ${README} project_readme)
string(REGEX MATCH "\n### The download\n(.*)" _ "${project_readme}")
string(REGEX REPLACE "\n##.*" "" download_section "${CMAKE_MATCH_1}")
check_contents_list(README.md "${download_section}")

if(problems)
  string(REPLACE ";" "\n  " problems "${problems}")
  message(FATAL_ERROR "${NAME}.zip:\n  ${problems}")
endif()
message(STATUS "${NAME}.zip holds what it should")
