# Chooses the platform backend folder and the settings that follow from the target.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(ORVEX_PLATFORM win32)
    # The debugging-help library of Wine reads DWARF up to version 4 only.
    set(ORVEX_PLATFORM_COMPILE_OPTIONS $<$<CONFIG:Debug,RelWithDebInfo>:-gdwarf-4>)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # The DWARF unwinder of the 32-bit toolchain must be shared between the
        # library and its host, or an exception thrown inside the DLL cannot be
        # caught by the host: libgcc stays a DLL that ships beside ours (with
        # the thread library it needs), libstdc++ is linked in statically.
        set(ORVEX_RUNTIME_LINK_OPTIONS -shared-libgcc -static-libstdc++)
        set(_orvex_runtime_names libgcc_s_dw2-1.dll libwinpthread-1.dll)
        # Stack walks follow the chain of frame pointers on this target, so
        # every function keeps one (hosts that want whole stacks build the
        # same way). Floating point in SSE2 registers, as on the 64-bit
        # targets: the x87 unit keeps intermediates in 80 bits and rounds them
        # only when they are spilled, so results would differ between the
        # targets and between builds.
        list(APPEND ORVEX_PLATFORM_COMPILE_OPTIONS -fno-omit-frame-pointer -msse2 -mfpmath=sse)
    else()
        # The 64-bit toolchain unwinds through the system's table of function
        # entries (SEH), one table for every module of the process: each module
        # may carry its own copy of libgcc and an exception still crosses from
        # the DLL into the host (tests/math throws through it). Only the thread
        # library that libstdc++ of the posix thread model imports ships
        # beside ours; tests/frame checks the DLL imports nothing else that a
        # Windows system lacks.
        set(ORVEX_RUNTIME_LINK_OPTIONS -static-libgcc -static-libstdc++)
        set(_orvex_runtime_names libwinpthread-1.dll)
    endif()
    set(ORVEX_RUNTIME_DLLS)
    string(REGEX REPLACE "-g\\+\\+.*$" "" _orvex_triplet "${CMAKE_CXX_COMPILER}")
    get_filename_component(_orvex_triplet "${_orvex_triplet}" NAME)
    foreach(_dll ${_orvex_runtime_names})
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
            OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${_path}")
            find_file(_path_${_dll} ${_dll} PATHS /usr/${_orvex_triplet}/lib
                /usr/lib/gcc/${_orvex_triplet}/12-posix NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
            set(_path ${_path_${_dll}})
        endif()
        if(NOT EXISTS "${_path}")
            message(FATAL_ERROR "${_dll} not found for ${CMAKE_CXX_COMPILER}")
        endif()
        list(APPEND ORVEX_RUNTIME_DLLS ${_path})
    endforeach()
    file(COPY ${ORVEX_RUNTIME_DLLS} DESTINATION ${CMAKE_BINARY_DIR}/bin)
else()
    set(ORVEX_PLATFORM posix)
    set(ORVEX_RUNTIME_LINK_OPTIONS)
    set(ORVEX_PLATFORM_COMPILE_OPTIONS)
    find_package(Threads REQUIRED)
endif()
