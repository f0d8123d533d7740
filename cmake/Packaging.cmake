# The download for Windows users: `cmake --workflow --preset windows-x86-package`
# (or windows-x64-package), or `--target package` in a configured Windows
# tree, makes orvexportio-<version>-windows-<x86|x64>.zip in the build tree.
# It holds what `cmake --install` puts in place (bin/ with the DLLs and
# orvexctl.exe, lib/ with the import libraries for MinGW and for MSVC and the
# module-definition files, the CMake package and pkg-config files,
# include/), the Python package in python/, the C# declarations and their
# example in dotnet/, README.txt on which zip a host needs and which driver
# library to install, and LabVIEW.txt with the Call Library Function settings.

# The Python package comes from bindings/python's own install rules, which
# put it in python/ on Windows, with the _locations.py of an installed copy.

if(ORVEX_WINDOWS_BITNESS STREQUAL "x64")
  set(ORVEX_BITNESS_WORDS "64-bit")
else()
  set(ORVEX_BITNESS_WORDS "32-bit")
endif()
foreach(text IN ITEMS README LabVIEW)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-${text}.txt.in
    ${PROJECT_BINARY_DIR}/packaging/${text}.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${text}.txt DESTINATION .)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/bindings/dotnet/Orvexportio.cs
              ${PROJECT_SOURCE_DIR}/bindings/dotnet/Example.cs
        DESTINATION dotnet)

# For MSVC and other toolchains: each DLL's module-definition file (written
# by orvex_export_only from cmake/Exports.cmake) and an import library made
# from it with llvm-dlltool (Debian's llvm). On 32-bit Windows the import
# library maps the C compiler's decorated names (_MA) to the undecorated
# exports (MA).
find_program(ORVEX_LLVM_DLLTOOL llvm-dlltool)
if(NOT ORVEX_LLVM_DLLTOOL)
  message(FATAL_ERROR "llvm-dlltool makes the zip's MSVC import libraries: install Debian's llvm")
endif()
if(ORVEX_WINDOWS_BITNESS STREQUAL "x64")
  set(orvex_dlltool_machine i386:x86-64)
else()
  set(orvex_dlltool_machine i386)
endif()
set(ORVEX_MSVC_LIBRARY_DIR ${PROJECT_BINARY_DIR}/msvc)

function(orvex_msvc_import_library target)
  get_target_property(sources ${target} SOURCES)
  list(FILTER sources INCLUDE REGEX "\\.def$")
  set(library ${ORVEX_MSVC_LIBRARY_DIR}/${target}.lib)
  add_custom_command(OUTPUT ${library}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVEX_MSVC_LIBRARY_DIR}
    COMMAND ${ORVEX_LLVM_DLLTOOL} -m ${orvex_dlltool_machine} -d ${sources} -l ${library}
    DEPENDS ${sources}
    COMMENT "Making the MSVC import library ${target}.lib")
  add_custom_target(${target}-msvc-import-library ALL DEPENDS ${library})
  install(FILES ${sources} ${library} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()

foreach(library IN ITEMS orvexportio orvexportio-sim orvexportio-diagnosis)
  orvex_msvc_import_library(${library})
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-windows-${ORVEX_WINDOWS_BITNESS})
# Everything under one folder named like the zip, so that unpacking it next
# to the other bitness's keeps them apart.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
# The debugging information stays in the build tree.
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
