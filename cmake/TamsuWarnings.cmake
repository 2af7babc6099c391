# Warnings every target of the project is built with.
add_library(tamsu_warnings INTERFACE)
target_compile_options(tamsu_warnings INTERFACE -Wall -Wextra -Wpedantic)
option(TAMSU_WERROR "Treat warnings as errors" OFF)
if(TAMSU_WERROR)
    target_compile_options(tamsu_warnings INTERFACE -Werror)
endif()
