# Records headers (paths relative to the source root) that are installed for hosts.
function(tamsu_public_headers)
    foreach(_header IN LISTS ARGN)
        file(RELATIVE_PATH _rel ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/${_header})
        set_property(GLOBAL APPEND PROPERTY TAMSU_PUBLIC_HEADERS ${_rel})
    endforeach()
endfunction()
