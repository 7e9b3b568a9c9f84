# 64-bit ARM with Debian's cross compiler (g++-aarch64-linux-gnu); the tests
# run under qemu-aarch64 with the target's libraries from its sysroot:
#   cmake -B build-arm64 --toolchain cmake/toolchain-aarch64.cmake \
#     "-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-aarch64;-L;/usr/aarch64-linux-gnu"
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# micbeam, the Python module and the benchmarks need libraries installed for
# x86-64 only.
set(MICARRAY_MICBEAM OFF CACHE BOOL "")
set(MICARRAY_PYTHON OFF CACHE BOOL "")
set(MICARRAY_BENCH OFF CACHE BOOL "")
