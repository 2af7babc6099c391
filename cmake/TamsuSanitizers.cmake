# Sanitizer flags, applied to the internal library and everything that links it.
add_library(tamsu_sanitizers INTERFACE)
if(TAMSU_SANITIZE AND TAMSU_TSAN)
    message(FATAL_ERROR "TAMSU_SANITIZE and TAMSU_TSAN cannot be combined")
endif()
if(TAMSU_FUZZ AND TAMSU_TSAN)
    message(FATAL_ERROR "TAMSU_FUZZ and TAMSU_TSAN cannot be combined")
endif()
if(TAMSU_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TAMSU_FUZZ needs clang for libFuzzer (CXX=clang++-14)")
endif()
if(TAMSU_SANITIZE OR TAMSU_FUZZ)
    set(_tamsu_san_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined
                         -fno-omit-frame-pointer)
elseif(TAMSU_TSAN)
    set(_tamsu_san_flags -fsanitize=thread -fno-omit-frame-pointer)
endif()
if(_tamsu_san_flags)
    target_compile_options(tamsu_sanitizers INTERFACE ${_tamsu_san_flags})
    target_link_options(tamsu_sanitizers INTERFACE ${_tamsu_san_flags})
endif()
# Coverage feedback for libFuzzer in everything the fuzz targets link, but not libFuzzer's main:
# only the fuzz targets themselves link -fsanitize=fuzzer (tests/fuzz). Vectors are annotated so
# that reading past a vector's size, not only past its allocation, is reported.
if(TAMSU_FUZZ)
    target_compile_options(tamsu_sanitizers INTERFACE -fsanitize=fuzzer-no-link
        -fsanitize-ignorelist=${CMAKE_CURRENT_LIST_DIR}/sanitizer-ignorelist.txt)
    target_compile_definitions(tamsu_sanitizers INTERFACE _GLIBCXX_SANITIZE_VECTOR)
endif()
