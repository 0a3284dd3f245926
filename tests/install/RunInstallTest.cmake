# Install -> configure a host with find_package -> build -> run; then compile
# the same host with the flags pkg-config gives.
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
    if(NOT _rc EQUAL 0)
        string(REPLACE ";" " " _command "${ARGN}")
        message(FATAL_ERROR "failed (${_rc}): ${_command}\n${_out}\n${_err}")
    endif()
    set(LAST_OUTPUT "${_out}" PARENT_SCOPE)
endfunction()

set(_prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${_prefix})

# Nothing private may be installed.
file(GLOB_RECURSE _private ${_prefix}/include/*/OrvexSys.h ${_prefix}/include/*/detail/*)
if(_private)
    message(FATAL_ERROR "private headers installed: ${_private}")
endif()

set(_configure ${CMAKE_COMMAND} -S ${HOST_SOURCE} -B ${WORK_DIR}/host -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${_prefix} -DCMAKE_BUILD_TYPE=Release)
if(TOOLCHAIN)
    list(APPEND _configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
run(${_configure})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host)

if(PLATFORM STREQUAL "win32")
    # The host finds the DLLs beside it, as an installed game would ship them.
    file(GLOB _dlls ${_prefix}/bin/*.dll)
    file(COPY ${_dlls} DESTINATION ${WORK_DIR}/host)
    run(${EMULATOR} ${WORK_DIR}/host/installed_host.exe)
else()
    run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${_prefix}/lib ${WORK_DIR}/host/installed_host)
endif()
if(NOT LAST_OUTPUT MATCHES "installed host: tick fired 2 times" OR
   NOT LAST_OUTPUT MATCHES "installed host: hash bd49d10d" OR
   NOT LAST_OUTPUT MATCHES "installed host: caught Can not call a invalid function!")
    message(FATAL_ERROR "unexpected host output: ${LAST_OUTPUT}")
endif()

# pkg-config: the same host compiled by hand.
file(GLOB_RECURSE _pc ${_prefix}/*/OrvexCommon2.pc)
get_filename_component(_pc_dir ${_pc} DIRECTORY)
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${_pc_dir}
    pkg-config --cflags --libs OrvexCommon2
    OUTPUT_VARIABLE _flags RESULT_VARIABLE _rc OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know OrvexCommon2")
endif()
separate_arguments(_flags UNIX_COMMAND "${_flags}")
set(_output ${WORK_DIR}/host/pkgconfig_host)
if(PLATFORM STREQUAL "win32")
    set(_output ${_output}.exe)
    if(POINTER_SIZE EQUAL 4)
        set(_runtime -shared-libgcc -static-libstdc++)
    else()
        set(_runtime -static-libgcc -static-libstdc++)
    endif()
endif()
run(${CXX} -std=c++17 ${HOST_SOURCE}/main.cpp ${_flags} ${_runtime} -o ${_output})
if(PLATFORM STREQUAL "win32")
    run(${EMULATOR} ${_output})
else()
    run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${_prefix}/lib ${_output})
endif()
if(NOT LAST_OUTPUT MATCHES "installed host: hash bd49d10d" OR
   NOT LAST_OUTPUT MATCHES "installed host: caught Can not call a invalid function!")
    message(FATAL_ERROR "unexpected pkg-config host output: ${LAST_OUTPUT}")
endif()
message(STATUS "installed tree serves CMake and pkg-config hosts")
