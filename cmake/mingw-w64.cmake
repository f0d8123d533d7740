# What the two Windows toolchains share: Debian's MinGW-w64 for the target
# ORVEX_MINGW_TARGET (i686-w64-mingw32 or x86_64-w64-mingw32), set by the
# toolchain file that includes this one.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX-threads variant: the win32 one has no std::mutex.
set(CMAKE_C_COMPILER ${ORVEX_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVEX_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVEX_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVEX_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libgcc, libstdc++, winpthread) is linked into every
# DLL and program, so they need nothing beside them but Windows' own DLLs.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
