# The download for Windows users: `cmake --build --preset windows-x86 --target
# package` (or windows-x64) makes orvexportio-<version>-windows-<x86|x64>.zip
# in the build tree. It holds what `cmake --install` puts in place (bin/ with
# both DLLs and orvexctl.exe, lib/ with the import libraries, include/), the
# Python package in python/, and README.txt on which zip a host needs and
# which driver library to install.

# The Python package where the bindings are one, else the single module.
set(orvex_python_package ${PROJECT_SOURCE_DIR}/bindings/python/orvexportio)
if(IS_DIRECTORY ${orvex_python_package})
  install(DIRECTORY ${orvex_python_package} DESTINATION python
    PATTERN __pycache__ EXCLUDE
    PATTERN *.pyc EXCLUDE)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/bindings/python/orvexportio.py DESTINATION python)
endif()

if(ORVEX_WINDOWS_BITNESS STREQUAL "x64")
  set(ORVEX_BITNESS_WORDS "64-bit")
else()
  set(ORVEX_BITNESS_WORDS "32-bit")
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows-README.txt.in
  ${PROJECT_BINARY_DIR}/packaging/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/packaging/README.txt DESTINATION .)

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
