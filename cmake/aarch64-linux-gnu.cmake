# Cross build for 64-bit ARM Linux with Debian's aarch64-linux-gnu compilers. Test programs, and
# the programs tests start, run under user-mode emulation with the cross sysroot's loader.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(TORVANE_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${TORVANE_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TORVANE_CROSS_TRIPLE}-g++)

set(TORVANE_CROSS_SYSROOT /usr/${TORVANE_CROSS_TRIPLE})
list(APPEND CMAKE_FIND_ROOT_PATH ${TORVANE_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages (GoogleTest built for aarch64) are named by their <Name>_DIR from the preset.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TORVANE_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(TORVANE_QEMU_AARCH64)
  # -L: the sysroot's loader and libraries, never a second glibc from the host.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TORVANE_QEMU_AARCH64} -L ${TORVANE_CROSS_SYSROOT})
endif()
