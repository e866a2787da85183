# 64-bit Windows images (x64) with Debian's MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MRV_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
