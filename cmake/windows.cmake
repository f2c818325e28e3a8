# The Windows side: pollwick.exe and the tests that run under Wine, 32-bit, runtime linked in.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX)
add_link_options(-static -static-libgcc -static-libstdc++)

add_library(pollwick_win STATIC
  ${POLLWICK_PORTABLE_SOURCES}
  mail/net_win32.cpp
  shell/log_win32.cpp
  shell/tray.cpp
  settings/store_win32.cpp
  clock/local_clock_win32.cpp
)
pollwick_product_flags(pollwick_win)
target_link_libraries(pollwick_win PUBLIC wsock32 comctl32 winmm shell32)

add_executable(pollwick WIN32 shell/main.cpp resources/pollwick.rc)
pollwick_product_flags(pollwick)
target_link_libraries(pollwick PRIVATE pollwick_win)

# The tests need GoogleTest's sources (Debian's googletest package puts them here).
set(POLLWICK_GTEST_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(EXISTS ${POLLWICK_GTEST_DIR}/CMakeLists.txt)
  add_subdirectory(${POLLWICK_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests)
endif()
