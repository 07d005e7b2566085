# Cross-compiling for 64-bit Windows with Debian's mingw-w64 compilers, in
# their posix thread model (GoogleTest needs std::mutex, which gcc 12 has only
# there). Programs built here run under wine (ctest does so by itself).
#
# Cross-built dependencies (GSL, GoogleTest) are found in the folder given as
# -DCMAKE_FIND_ROOT_PATH=<prefix> -DCMAKE_PREFIX_PATH=<prefix>; scripts/windows.sh
# builds them there.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VOKIP_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VOKIP_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOKIP_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VOKIP_MINGW}-windres)
set(CMAKE_DLLTOOL ${VOKIP_MINGW}-dlltool)
set(CMAKE_OBJDUMP ${VOKIP_MINGW}-objdump)

# Headers, libraries and packages for the target only, never the build machine's.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${VOKIP_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtimes (libgcc, libstdc++, winpthread) are linked in,
# so what a program or DLL imports is the system's (kernel32, msvcrt) and what
# it imports on purpose.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# wine prints nothing of its own; its prefix is WINEPREFIX from the environment.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all /usr/lib/wine/wine64)
