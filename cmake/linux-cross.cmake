# Cross-compiles for another Linux processor with Debian's cross compilers
# (g++-TRIPLE) and runs the tests under qemu-user, with the target's libraries
# from /usr/TRIPLE. Included by the per-target files beside it, which set TROV_TRIPLE
# and TROV_QEMU, e.g.
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TROV_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TROV_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${TROV_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${TROV_QEMU} -L /usr/${TROV_TRIPLE})
