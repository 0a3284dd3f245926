# Chooses the platform backend folder and the settings that follow from the target.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(ORVEX_PLATFORM win32)
    # The DWARF unwinder must be shared between the library and its host, or an
    # exception thrown inside the DLL cannot be caught by the host: libgcc stays
    # a DLL that ships beside ours, libstdc++ is linked in statically.
    set(ORVEX_RUNTIME_LINK_OPTIONS -shared-libgcc -static-libstdc++)
    find_file(ORVEX_LIBGCC_DLL libgcc_s_dw2-1.dll
        PATHS /usr/lib/gcc/i686-w64-mingw32/12-win32
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT ORVEX_LIBGCC_DLL)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_dw2-1.dll
            OUTPUT_VARIABLE ORVEX_LIBGCC_DLL OUTPUT_STRIP_TRAILING_WHITESPACE)
    endif()
    if(NOT EXISTS "${ORVEX_LIBGCC_DLL}")
        message(FATAL_ERROR "libgcc_s_dw2-1.dll not found for ${CMAKE_CXX_COMPILER}")
    endif()
    file(COPY ${ORVEX_LIBGCC_DLL} DESTINATION ${CMAKE_BINARY_DIR}/bin)
else()
    set(ORVEX_PLATFORM posix)
    set(ORVEX_RUNTIME_LINK_OPTIONS)
    find_package(Threads REQUIRED)
endif()
