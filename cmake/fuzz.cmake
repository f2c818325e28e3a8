# The fuzz targets (fuzz/), built with clang's libFuzzer in a sub-build of their own so that the
# native build keeps its compiler. Each gets a short bounded run in the test run.
find_program(POLLWICK_CLANGXX clang++)
if(POLLWICK_CLANGXX)
  set(with_clang ON)
else()
  set(with_clang OFF)
endif()
option(POLLWICK_LIBFUZZER "Build the libFuzzer targets with clang and run each briefly in the tests" ${with_clang})
set(POLLWICK_FUZZ_SECONDS 15 CACHE STRING "Seconds each fuzz target runs in the tests")
if(POLLWICK_LIBFUZZER)
  include(ExternalProject)
  ExternalProject_Add(fuzz
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/fuzz
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${POLLWICK_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
  )
  foreach(name pop3_session_fuzz)
    add_test(NAME fuzz.${name}
             COMMAND ${PROJECT_SOURCE_DIR}/fuzz/run.sh ${CMAKE_BINARY_DIR}/fuzz ${name} ${POLLWICK_FUZZ_SECONDS})
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 120)
  endforeach()
endif()
