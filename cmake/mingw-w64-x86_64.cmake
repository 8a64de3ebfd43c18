# Cross-compiles krlist.exe for 64-bit Windows with MinGW-w64:
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The POSIX-threads flavour of the compiler is the one whose libstdc++ has
# std::thread and friends; the plain name is used when only that one exists.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${mingw_prefix}-g++-posix ${mingw_prefix}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${mingw_prefix}-windres)

# Headers and libraries come from the MinGW-w64 sysroot only; programs (the
# build tools) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: libgcc, libstdc++ and winpthread are linked in, so
# the program needs only the DLLs every Windows system has.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
