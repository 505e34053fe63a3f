# 32-bit Windows (i386).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ORVANTIS_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
