# 32-bit Windows images (x86) with Debian's MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(MRV_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
