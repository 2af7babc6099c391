# Installs the programs, the shared object, its public headers, a CMake package (so that a host
# can use find_package(tamsu) and link tamsu::tamsu_client) and a pkg-config file (tamsu.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TAMSU_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tamsu)
set(TAMSU_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS tamsu tamsu_basecall_server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tamsu_client EXPORT tamsuTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

get_property(_tamsu_headers GLOBAL PROPERTY TAMSU_PUBLIC_HEADERS)
foreach(_header IN LISTS _tamsu_headers)
    get_filename_component(_dir ${_header} DIRECTORY)
    install(FILES ${CMAKE_SOURCE_DIR}/${_header}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tamsu/${_dir})
endforeach()

install(EXPORT tamsuTargets NAMESPACE tamsu:: DESTINATION ${TAMSU_CONFIG_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tamsuConfig.cmake.in
    ${CMAKE_BINARY_DIR}/tamsuConfig.cmake INSTALL_DESTINATION ${TAMSU_CONFIG_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/tamsuConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/tamsuConfig.cmake
    ${CMAKE_BINARY_DIR}/tamsuConfigVersion.cmake DESTINATION ${TAMSU_CONFIG_DIR})

# The prefix, seen from the pkg-config directory (lib/pkgconfig or lib/<multiarch>/pkgconfig).
file(RELATIVE_PATH TAMSU_PC_TO_PREFIX /prefix/${TAMSU_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" TAMSU_PC_TO_PREFIX ${TAMSU_PC_TO_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/tamsu.pc.in ${CMAKE_BINARY_DIR}/tamsu.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tamsu.pc DESTINATION ${TAMSU_PKGCONFIG_DIR})

# "cpack -G DEB" in the build directory: one package with all of the above. dpkg-shlibdeps works
# out the shared libraries' packages, so the list cannot fall behind what the programs link;
# the headers' Boost dependency is stated by hand.
set(CPACK_PACKAGE_NAME tamsu)
set(CPACK_PACKAGE_VENDOR "tamsu developers")
set(CPACK_PACKAGE_CONTACT "tamsu developers <tamsu@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "basecall server client library, its headers, the tamsu program and a reference server")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libboost-dev (>= 1.74)")
include(CPack)
