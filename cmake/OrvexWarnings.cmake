# Warnings and sanitizers shared by every target of the project.
add_library(orvex_build_flags INTERFACE)
# No fused multiply-add: single-precision results are the same on every
# target and every instruction set the compiler may be told to use.
target_compile_options(orvex_build_flags INTERFACE -Wall -Wextra -ffp-contract=off
    ${ORVEX_PLATFORM_COMPILE_OPTIONS})
# The platform's code-generation options reach link-time optimisation too.
target_link_options(orvex_build_flags INTERFACE ${ORVEX_RUNTIME_LINK_OPTIONS}
    ${ORVEX_PLATFORM_COMPILE_OPTIONS})

if(ORVEX_SANITIZE)
    string(REPLACE ";" "," _orvex_san "${ORVEX_SANITIZE}")
    target_compile_options(orvex_build_flags INTERFACE
        -fsanitize=${_orvex_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(orvex_build_flags INTERFACE -fsanitize=${_orvex_san})
endif()

# Link-time optimisation for optimised builds: the allocator's fast paths cross
# translation units (pool, page supply, platform lock). Sanitizer and fuzz
# builds keep ordinary linking.
include(CheckIPOSupported)
if(NOT ORVEX_SANITIZE AND NOT ORVEX_BUILD_FUZZ AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    check_ipo_supported(RESULT ORVEX_IPO OUTPUT _orvex_ipo_output LANGUAGES CXX)
endif()
