# Third-party packages, all from the distribution (scripts/install-deps.sh installs them).
set(Boost_USE_STATIC_LIBS OFF)
find_package(Boost 1.74 REQUIRED COMPONENTS log filesystem system)
find_package(cppzmq REQUIRED)
find_package(Microsoft.GSL REQUIRED)
find_package(Threads REQUIRED)

find_program(FLATC_EXECUTABLE flatc REQUIRED)
find_path(FLATBUFFERS_INCLUDE_DIR flatbuffers/flatbuffers.h REQUIRED)

set(TAMSU_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
