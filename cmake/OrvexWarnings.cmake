# Warnings and sanitizers shared by every target of the project.
add_library(orvex_build_flags INTERFACE)
target_compile_options(orvex_build_flags INTERFACE -Wall -Wextra)
target_link_options(orvex_build_flags INTERFACE ${ORVEX_RUNTIME_LINK_OPTIONS})

if(ORVEX_SANITIZE)
    string(REPLACE ";" "," _orvex_san "${ORVEX_SANITIZE}")
    target_compile_options(orvex_build_flags INTERFACE
        -fsanitize=${_orvex_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(orvex_build_flags INTERFACE -fsanitize=${_orvex_san})
endif()
