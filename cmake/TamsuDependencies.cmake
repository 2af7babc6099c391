# Third-party packages, all from the distribution (scripts/install-deps.sh installs them).
set(Boost_USE_STATIC_LIBS OFF)
find_package(Boost 1.74 REQUIRED COMPONENTS log filesystem system)
find_package(cppzmq REQUIRED)
find_package(Microsoft.GSL REQUIRED)
find_package(Threads REQUIRED)
# The programs' command lines (header-only).
find_package(CLI11 REQUIRED)

find_program(FLATC_EXECUTABLE flatc REQUIRED)
find_path(FLATBUFFERS_INCLUDE_DIR flatbuffers/flatbuffers.h REQUIRED)

set(TAMSU_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)

# Raw-signal files (SLOW5/BLOW5) for the tamsu program. Debian's libslow5 does not declare the
# streamvbyte and zlib libraries it calls into, so they are linked beside it.
find_package(ZLIB REQUIRED)
find_path(SLOW5_INCLUDE_DIR slow5/slow5.h REQUIRED)
find_library(SLOW5_LIBRARY slow5 REQUIRED)
find_library(STREAMVBYTE_LIBRARY streamvbyte REQUIRED)
add_library(tamsu_slow5 INTERFACE)
target_include_directories(tamsu_slow5 SYSTEM INTERFACE ${SLOW5_INCLUDE_DIR})
target_link_libraries(tamsu_slow5 INTERFACE ${SLOW5_LIBRARY} ${STREAMVBYTE_LIBRARY} ZLIB::ZLIB)

# BAM, SAM and FASTQ output of the tamsu program.
find_path(HTSLIB_INCLUDE_DIR htslib/sam.h REQUIRED)
find_library(HTSLIB_LIBRARY hts REQUIRED)
add_library(tamsu_hts INTERFACE)
target_include_directories(tamsu_hts SYSTEM INTERFACE ${HTSLIB_INCLUDE_DIR})
target_link_libraries(tamsu_hts INTERFACE ${HTSLIB_LIBRARY})
