# mingw-w64.cmake - cross-builds the Windows tool on Debian with MinGW-w64 (posix threads) and runs it under wine
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QIVPAK_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix threads variant: std::thread and std::mutex on winpthreads.
set(CMAKE_C_COMPILER ${QIVPAK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QIVPAK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QIVPAK_MINGW_TRIPLET}-windres)

# Libraries and headers of the target (zlib from libz-mingw-w64-dev) come from
# the MinGW tree only; programs run during the build come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QIVPAK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One executable with nothing beside it to ship: libgcc, libstdc++,
# winpthread and zlib are linked in. zlib's static archive, not its import
# library (which the platform's search would find first).
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(ZLIB_USE_STATIC_LIBS ON)
if(EXISTS /usr/${QIVPAK_MINGW_TRIPLET}/lib/libz.a)
  set(ZLIB_LIBRARY /usr/${QIVPAK_MINGW_TRIPLET}/lib/libz.a CACHE FILEPATH "zlib for the Windows build")
endif()

# ctest (and the test discovery at build time) runs the Windows programs under
# wine (Debian's wine64 keeps its loader in /usr/lib/wine), without wine's own
# diagnostics on standard error.
find_program(QIVPAK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QIVPAK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEDEBUG=-all ${QIVPAK_WINE})
endif()

# pkg-config looks only at the MinGW tree (which has no libdeflate, so frames
# are inflated with zlib there), never at the build machine's own libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${QIVPAK_MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
