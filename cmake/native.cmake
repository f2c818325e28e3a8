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
add_subdirectory(tests)
add_subdirectory(bench)

# The Windows side, cross-built in a sub-build; its tests are registered in tests/.
if(POLLWICK_WINDOWS)
  include(ExternalProject)
  ExternalProject_Add(windows
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-i686.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DPOLLWICK_GTEST_DIR=${POLLWICK_GTEST_DIR}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
  )
  # The pictures of docs/, taken anew of the program as built: cmake --build build --target docs
  add_custom_target(docs COMMAND ${PROJECT_SOURCE_DIR}/scripts/screenshots.sh ${CMAKE_BINARY_DIR} DEPENDS windows
                    USES_TERMINAL)
endif()
