# Code generation shared by every target: floating point that is the same on
# every target, the platform's options, and link-time optimisation.
#
# No fused multiply-add: single-precision results are the same on every
# target and every instruction set the compiler may be told to use.
target_compile_options(orvex_build_flags INTERFACE -ffp-contract=off
    ${ORVEX_PLATFORM_COMPILE_OPTIONS})
# The platform's code-generation options reach link-time optimisation too.
target_link_options(orvex_build_flags INTERFACE ${ORVEX_RUNTIME_LINK_OPTIONS}
    ${ORVEX_PLATFORM_COMPILE_OPTIONS})

# Link-time optimisation for optimised builds: the allocator's fast paths cross
# translation units (pool, page supply, platform lock). Sanitizer and fuzz
# builds keep ordinary linking, and so does a build that turns ORVEX_LTO off
# (the native tools a cross build makes to run while building).
option(ORVEX_LTO "Link-time optimisation for optimised builds" ON)
include(CheckIPOSupported)
if(ORVEX_LTO AND NOT ORVEX_SANITIZE AND NOT ORVEX_BUILD_FUZZ AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    check_ipo_supported(RESULT ORVEX_IPO OUTPUT _orvex_ipo_output LANGUAGES CXX)
endif()
