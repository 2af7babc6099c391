# Installs the shared object, its public headers and a package configuration so that a host
# can use find_package(TamsuClient) and link tamsu::tamsu_client.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TAMSU_CONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TamsuClient)

install(TARGETS tamsu_client EXPORT TamsuClientTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

get_property(_tamsu_headers GLOBAL PROPERTY TAMSU_PUBLIC_HEADERS)
foreach(_header IN LISTS _tamsu_headers)
    get_filename_component(_dir ${_header} DIRECTORY)
    install(FILES ${CMAKE_SOURCE_DIR}/${_header}
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tamsu/${_dir})
endforeach()

install(EXPORT TamsuClientTargets NAMESPACE tamsu:: DESTINATION ${TAMSU_CONFIG_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/TamsuClientConfig.cmake.in
    ${CMAKE_BINARY_DIR}/TamsuClientConfig.cmake INSTALL_DESTINATION ${TAMSU_CONFIG_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/TamsuClientConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/TamsuClientConfig.cmake
    ${CMAKE_BINARY_DIR}/TamsuClientConfigVersion.cmake DESTINATION ${TAMSU_CONFIG_DIR})
