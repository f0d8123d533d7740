# Cross-compiles for 32-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-i686),
# and runs the Windows programs through Wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ORVEX_MINGW_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
