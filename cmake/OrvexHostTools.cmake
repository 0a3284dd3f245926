# Tools that make data during the build (the demo's sample package) run on
# the machine that builds. A native build uses its own orvex-pack; a cross
# build uses a native orvex-pack, built from the same sources in a build of
# its own below this one, or the one ORVEX_HOST_PACK names. The cross-built
# tool is still built, installed and tested under the emulator.
#
# Sets ORVEX_HOST_PACK_COMMAND (the program to run) and
# ORVEX_HOST_PACK_DEPENDS (what a custom command that runs it depends on).
if(NOT CMAKE_CROSSCOMPILING)
    if(TARGET orvex-pack)
        set(ORVEX_HOST_PACK_COMMAND $<TARGET_FILE:orvex-pack>)
        set(ORVEX_HOST_PACK_DEPENDS orvex-pack)
    endif()
    return()
endif()

set(ORVEX_HOST_PACK "" CACHE FILEPATH
    "A native orvex-pack for the data made while building; empty: build one from these sources")
if(ORVEX_HOST_PACK)
    set(ORVEX_HOST_PACK_COMMAND ${ORVEX_HOST_PACK})
    set(ORVEX_HOST_PACK_DEPENDS ${ORVEX_HOST_PACK})
    return()
endif()

# The host build knows nothing of the toolchain file: it configures with the
# machine's own compiler. Only the tool is built, optimised but without
# link-time optimisation, which buys a packing tool nothing.
include(ExternalProject)
set(_host_tools_dir ${CMAKE_BINARY_DIR}/host-tools)
set(_host_pack ${_host_tools_dir}/bin/orvex-pack)
ExternalProject_Add(orvex_host_tools
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${_host_tools_dir}
    CMAKE_ARGS
        -DCMAKE_BUILD_TYPE=Release
        -DORVEX_LTO=OFF
        -DORVEX_BUILD_TESTS=OFF
        -DORVEX_BUILD_EXAMPLES=OFF
        -DORVEX_WARNINGS_AS_ERRORS=${ORVEX_WARNINGS_AS_ERRORS}
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${_host_tools_dir} --target orvex-pack
    BUILD_BYPRODUCTS ${_host_pack}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    EXCLUDE_FROM_ALL ON)
set(ORVEX_HOST_PACK_COMMAND ${_host_pack})
set(ORVEX_HOST_PACK_DEPENDS orvex_host_tools ${_host_pack})
