# Sanitizers, when ORVEX_SANITIZE lists them (the linux-asan, linux-tsan and
# linux-fuzz presets): every target is instrumented, and a report ends the
# process.
if(ORVEX_SANITIZE)
    string(REPLACE ";" "," _orvex_san "${ORVEX_SANITIZE}")
    target_compile_options(orvex_build_flags INTERFACE
        -fsanitize=${_orvex_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(orvex_build_flags INTERFACE -fsanitize=${_orvex_san})
endif()

# A checking build asserts the allocator's invariants on every operation.
if(ORVEX_CHECKS)
    target_compile_definitions(orvex_build_flags INTERFACE ORVEX_CHECKS=1)
endif()
