# 32-bit x86: cross compiler g++-i686-linux-gnu, tests under qemu-i386.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TROV_TRIPLE i686-linux-gnu)
set(TROV_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
