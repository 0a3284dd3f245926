# Cross build of a Windows DLL with the MinGW-w64 compiler for
# ORVEX_MINGW_TRIPLET (set by the toolchain file that includes this one);
# tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GoogleTest needs std::mutex, which the win32 model
# of this compiler lacks. Its runtime DLLs ship beside ours (OrvexPlatform.cmake).
set(CMAKE_C_COMPILER ${ORVEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVEX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORVEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages may also come from a host prefix (CMAKE_PREFIX_PATH), as installs do.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine-run.sh)
