# Installation: headers, the library, a CMake package (OrvexCommon2::OrvexCommon2)
# and a pkg-config file form the component "library"; the command-line tools
# install as "tools". The target orvex_installable builds everything an install
# takes, so that `cmake --install` works on a build that made only the demo.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrvexCommon2)

install(TARGETS OrvexCommon2 EXPORT OrvexCommon2Targets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT library)

# Public headers only: the platform layer and detail/ folders stay private.
install(DIRECTORY engine/src/OrvexCommon DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    COMPONENT library
    FILES_MATCHING PATTERN "*.h"
    PATTERN "detail" EXCLUDE
    PATTERN "posix" EXCLUDE
    PATTERN "win32" EXCLUDE
    PATTERN "OrvexSys.h" EXCLUDE)

if(ORVEX_PLATFORM STREQUAL "win32")
    install(FILES ${ORVEX_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
endif()

install(EXPORT OrvexCommon2Targets NAMESPACE OrvexCommon2:: DESTINATION ${ORVEX_CMAKE_DIR}
    COMPONENT library)
configure_package_config_file(cmake/OrvexCommon2Config.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/OrvexCommon2Config.cmake
    INSTALL_DESTINATION ${ORVEX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OrvexCommon2ConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OrvexCommon2Config.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/OrvexCommon2ConfigVersion.cmake
    DESTINATION ${ORVEX_CMAKE_DIR} COMPONENT library)

configure_file(cmake/OrvexCommon2.pc.in ${CMAKE_CURRENT_BINARY_DIR}/OrvexCommon2.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OrvexCommon2.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT library)

add_custom_target(orvex_installable)
add_dependencies(orvex_installable OrvexCommon2)
foreach(_tool orvex-pack orvex-flame)
    if(TARGET ${_tool})
        add_dependencies(orvex_installable ${_tool})
    endif()
endforeach()
