# Cross-compiling for 64-bit Windows with Debian's mingw-w64 compilers.
# The "-posix" compilers are the ones with std::thread and std::mutex (winpthreads); the "-win32"
# ones lack them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVTR_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KVTR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVTR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KVTR_MINGW_TRIPLET}-windres)

# Libraries and headers (zlib among them) come from the target's own root only; the build host's
# programs stay usable.
set(CMAKE_FIND_ROOT_PATH /usr/${KVTR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry the C++ runtime, winpthreads and zlib inside, so that they run on a machine
# without the compiler's DLLs.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
