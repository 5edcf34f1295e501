# 32-bit x86: cross compiler g++-i686-linux-gnu, tests under qemu-i386.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TROV_TRIPLE i686-linux-gnu)
set(TROV_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
# qemu-i386 hangs when a program starts a second thread: this build's
# trov-export, run by the tests under it, works one histogram at a time.
set(TROV_THREADS OFF CACHE BOOL "trov-export works on several histograms at once")
