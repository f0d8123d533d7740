# Links a program the way an MSVC user does, against the import library
# IMPORT_LIBRARY alone: a C host, compiled with CLANG for TARGET (the MSVC
# ABI), that takes the address of every name in EXPORTS (comma-separated),
# linked by LLD_LINK without any C runtime. Fails unless the link succeeds,
# the program imports exactly EXPORTS from DLL (read with OBJDUMP), and it
# starts under EMULATOR beside DLL_FILE, which needs the loader to find every
# import in the DLL. Works in WORK_DIR.
cmake_policy(VERSION 3.25)

function(run_checked)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE output
                  RESULT_VARIABLE status WORKING_DIRECTORY ${WORK_DIR})
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "failed (${status}): ${shown}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# Declared without their prototypes: the link only needs the names, and the C
# compiler decorates every C function the same way whatever its arguments.
string(REPLACE "," ";" exports "${EXPORTS}")
set(declarations "")
set(table "")
foreach(name IN LISTS exports)
  string(APPEND declarations "void ${name}(void);\n")
  string(APPEND table "  sink = ${name};\n")
endforeach()
file(WRITE ${WORK_DIR}/msvc_host.c
"/* Made by check_msvc_link.cmake: takes the address of every export. */
${declarations}
/* One store at a time: an initialised table would be copied with memcpy,
   which a program linked without a C runtime lacks. */
void (*volatile sink)(void);
int mainCRTStartup(void) {
${table}  return sink == 0;
}
")

run_checked(${CLANG} --target=${TARGET} -ffreestanding -fno-stack-protector -c msvc_host.c
            -o msvc_host.obj)
run_checked(${LLD_LINK} /nologo /nodefaultlib /entry:mainCRTStartup /subsystem:console
            /out:msvc_host.exe msvc_host.obj ${IMPORT_LIBRARY})

run_checked(${OBJDUMP} -p ${WORK_DIR}/msvc_host.exe)
string(REGEX MATCH "\tDLL Name: ${DLL}\n[^\n]*\n(\t[^\n]+\n)*" import_table "${output}")
string(REGEX MATCHALL "\t[0-9a-f]+\t +[0-9]+ +[A-Za-z0-9_]+\n" rows "${import_table}")
set(imported)
foreach(row IN LISTS rows)
  string(REGEX REPLACE ".* ([A-Za-z0-9_]+)\n$" "\\1" name "${row}")
  list(APPEND imported "${name}")
endforeach()
list(SORT imported)
list(SORT exports)
if(NOT imported STREQUAL exports)
  message(FATAL_ERROR "msvc_host.exe imports from ${DLL}\n  ${imported}\nexpected\n  ${exports}")
endif()

file(COPY ${DLL_FILE} DESTINATION ${WORK_DIR})
run_checked(${EMULATOR} ${WORK_DIR}/msvc_host.exe)
message(STATUS "a program linked with the MSVC import library imports ${imported} and starts")
