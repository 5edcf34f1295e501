# s390x, big-endian: cross compiler g++-s390x-linux-gnu, tests under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TROV_TRIPLE s390x-linux-gnu)
set(TROV_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
