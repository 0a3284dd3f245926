# Fails when an operating-system macro appears outside the platform layer
# (engine platform/ folder, tests/support/<backend>/, examples/*/<backend>/) and
# the export header.
set(_pattern "(^|[^A-Za-z0-9_])(_WIN32|_WIN64|__linux__|__linux|__unix__|__unix|__APPLE__|__MACH__|__MINGW32__|__MINGW64__|__CYGWIN__|_MSC_VER|__ANDROID__|__FreeBSD__)([^A-Za-z0-9_]|$)")
file(GLOB_RECURSE _files
    ${ROOT}/engine/*.h ${ROOT}/engine/*.hpp ${ROOT}/engine/*.cpp ${ROOT}/engine/*.inl
    ${ROOT}/tests/*.h ${ROOT}/tests/*.cpp
    ${ROOT}/examples/*.h ${ROOT}/examples/*.cpp
    ${ROOT}/tools/*.h ${ROOT}/tools/*.cpp
    ${ROOT}/bench/*.h ${ROOT}/bench/*.cpp
    ${ROOT}/fuzz/*.h ${ROOT}/fuzz/*.cpp)
set(_offenders)
foreach(_file IN LISTS _files)
    file(RELATIVE_PATH _relative ${ROOT} ${_file})
    if(_relative MATCHES "^engine/src/OrvexCommon/platform/"
       OR _relative MATCHES "^tests/support/(posix|win32)/"
       OR _relative MATCHES "^examples/[^/]+/(posix|win32)/"
       OR _relative STREQUAL "engine/src/OrvexCommon/base/OrvexExport.h")
        continue()
    endif()
    file(STRINGS ${_file} _hits REGEX "${_pattern}")
    if(_hits)
        list(APPEND _offenders "${_relative}: ${_hits}")
    endif()
endforeach()
if(_offenders)
    list(JOIN _offenders "\n  " _report)
    message(FATAL_ERROR "operating-system macros outside the platform layer:\n  ${_report}")
endif()
list(LENGTH _files _count)
message(STATUS "checked ${_count} files: no operating-system macro outside the platform layer")
