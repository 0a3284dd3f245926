# Cross build of the 64-bit Windows DLL with MinGW-w64; tests run under 64-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORVEX_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
