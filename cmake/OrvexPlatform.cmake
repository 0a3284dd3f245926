# Chooses the platform backend folder and the settings that follow from the target.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(ORVEX_PLATFORM win32)
    # The DWARF unwinder must be shared between the library and its host, or an
    # exception thrown inside the DLL cannot be caught by the host: libgcc stays
    # a DLL that ships beside ours (with the thread library it needs),
    # libstdc++ is linked in statically.
    set(ORVEX_RUNTIME_LINK_OPTIONS -shared-libgcc -static-libstdc++)
    # Stack walks follow the chain of frame pointers on this target, so every
    # function keeps one (hosts that want whole stacks build the same way).
    # Floating point in SSE2 registers, as on the 64-bit target: the x87 unit
    # keeps intermediates in 80 bits and rounds them only when they are
    # spilled, so results would differ between the targets and between builds.
    # The debugging-help library of Wine reads DWARF up to version 4 only.
    set(ORVEX_PLATFORM_COMPILE_OPTIONS -fno-omit-frame-pointer -msse2 -mfpmath=sse
        $<$<CONFIG:Debug,RelWithDebInfo>:-gdwarf-4>)
    set(ORVEX_RUNTIME_DLLS)
    foreach(_dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_dll}
            OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${_path}")
            find_file(_path_${_dll} ${_dll} PATHS /usr/i686-w64-mingw32/lib
                /usr/lib/gcc/i686-w64-mingw32/12-posix NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
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
