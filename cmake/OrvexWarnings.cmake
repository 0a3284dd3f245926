# The warnings every target of the project is built with, and the interface
# target that carries them with the project's other build flags. The CI
# presets turn warnings into errors (ORVEX_WARNINGS_AS_ERRORS).
option(ORVEX_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
add_library(orvex_build_flags INTERFACE)
target_compile_options(orvex_build_flags INTERFACE -Wall -Wextra)
if(ORVEX_WARNINGS_AS_ERRORS)
    target_compile_options(orvex_build_flags INTERFACE -Werror)
endif()
