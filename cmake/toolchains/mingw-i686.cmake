# Cross build of the 32-bit Windows DLL with MinGW-w64; tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVEX_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
