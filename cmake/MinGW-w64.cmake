# Cross-building for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads variant,
# whose libstdc++ has std::thread and std::mutex on winpthread).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW-w64.cmake -DQUARVEL_WINDOWS_PREFIX=DIR ...
#
# DIR (or the environment variable QUARVEL_WINDOWS_PREFIX) is the prefix the libraries
# were cross-built into (scripts/windows.sh); it and MinGW's own folder are the only
# places libraries, headers and CMake packages are looked for. The programs link
# libgcc, libstdc++ and winpthread statically, so they run without MinGW's DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUARVEL_MINGW_TRIPLET x86_64-w64-mingw32)

# The -posix compilers by name: the machine's update-alternatives choice is not ours.
set(CMAKE_C_COMPILER ${QUARVEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARVEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARVEL_MINGW_TRIPLET}-windres)

if(NOT QUARVEL_WINDOWS_PREFIX AND DEFINED ENV{QUARVEL_WINDOWS_PREFIX})
  set(QUARVEL_WINDOWS_PREFIX "$ENV{QUARVEL_WINDOWS_PREFIX}")
endif()
set(QUARVEL_WINDOWS_PREFIX "${QUARVEL_WINDOWS_PREFIX}" CACHE PATH
  "Prefix of the cross-built libraries (scripts/windows.sh)")
# try_compile projects read this file again: they need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUARVEL_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH ${QUARVEL_WINDOWS_PREFIX} /usr/${QUARVEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static libraries first (MinGW's zlib ships both).
set(CMAKE_FIND_LIBRARY_SUFFIXES .a .dll.a .lib)
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Test programs and try_run run under Wine.
find_program(QUARVEL_WINE NAMES wine wine64)
if(QUARVEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARVEL_WINE})
endif()

# pkg-config answers for Windows too: the prefix's and MinGW's .pc files, never the
# machine's own.
set(ENV{PKG_CONFIG_LIBDIR}
  "${QUARVEL_WINDOWS_PREFIX}/lib/pkgconfig:/usr/${QUARVEL_MINGW_TRIPLET}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
