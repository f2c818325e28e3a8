# The native build: portable logic and the POSIX socket layer, tested with ASan and UBSan.
set(POLLWICK_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${POLLWICK_SANITIZE})
add_link_options(${POLLWICK_SANITIZE})

add_library(pollwick_native STATIC
  ${POLLWICK_PORTABLE_SOURCES}
  base/log_posix.cpp
  net/net_posix.cpp
  mail/tls_none.cpp
  settings/store_memory.cpp
  clock/local_clock_posix.cpp
)
pollwick_product_flags(pollwick_native)

add_subdirectory(${POLLWICK_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)
option(POLLWICK_WINDOWS "Cross-build the Windows side and run its tests under Wine" ON)
if(POLLWICK_WINDOWS)
  # The Windows side, cross-built in sub-builds whose tests are registered in tests/. The program
  # we ship is 32-bit and built everywhere (build/windows). Its tests run under Wine as i686 too
  # wherever this machine runs 32-bit code; where it runs 64-bit code only, the same sources are
  # built and tested as x86_64 beside it (build/windows-x86_64). scripts/windows-arch.sh decides.
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/windows-arch.sh
                  OUTPUT_VARIABLE POLLWICK_WINDOWS_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "scripts/windows-arch.sh could not tell which Windows build runs here")
  endif()
  message(STATUS "Windows build tested under Wine: ${POLLWICK_WINDOWS_ARCH}")
  include(ExternalProject)
  function(windows_build name arch tests)
    ExternalProject_Add(${name}
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${CMAKE_BINARY_DIR}/${name}
      CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-${arch}.cmake
                 -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DPOLLWICK_GTEST_DIR=${POLLWICK_GTEST_DIR}
                 -DPOLLWICK_WINDOWS_TESTS=${tests}
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
    )
  endfunction()
  if(POLLWICK_WINDOWS_ARCH STREQUAL i686)
    windows_build(windows i686 ON)
    set(POLLWICK_WINE_BUILD ${CMAKE_BINARY_DIR}/windows)
  else()
    windows_build(windows i686 OFF)
    windows_build(windows-x86_64 x86_64 ON)
    set(POLLWICK_WINE_BUILD ${CMAKE_BINARY_DIR}/windows-x86_64)
  endif()
  # The pictures of docs/, taken anew of the program as built: cmake --build build --target docs
  add_custom_target(docs COMMAND ${PROJECT_SOURCE_DIR}/scripts/screenshots.sh ${CMAKE_BINARY_DIR} USES_TERMINAL)
  add_dependencies(docs windows)
  if(TARGET windows-x86_64)
    add_dependencies(docs windows-x86_64)
  endif()
endif()
add_subdirectory(tests)
add_subdirectory(bench)
