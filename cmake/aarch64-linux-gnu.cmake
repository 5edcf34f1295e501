# ARM64, the processor of Apple Silicon Macs and ARM Linux: cross compiler g++-aarch64-linux-gnu, tests under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TROV_TRIPLE aarch64-linux-gnu)
set(TROV_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
