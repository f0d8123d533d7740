# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64),
# and runs the Windows programs through 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORVEX_MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Debian's wine picks its 32-bit loader whenever that is installed; 64-bit
# programs need the 64-bit one.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
