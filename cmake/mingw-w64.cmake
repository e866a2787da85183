# Shared part of the MinGW-w64 toolchain files: Debian's cross compilers and
# binutils for ${MRV_MINGW_TRIPLE}, its own headers and import libraries,
# never the host's.
set(CMAKE_SYSTEM_NAME Windows)
# The posix thread model's compilers: std::thread and std::mutex (which
# GoogleTest and the user-mode programs use) need it. The kernel driver links
# no runtime, so the thread model does not reach it.
set(CMAKE_C_COMPILER ${MRV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MRV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MRV_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${MRV_MINGW_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${MRV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Kernel-mode headers (wdm.h, ntddk.h, usbdlib.h, ...) of the same toolchain.
set(MRV_MINGW_DDK_INCLUDE /usr/${MRV_MINGW_TRIPLE}/include/ddk)
