# The Windows side: pollwick.exe and the tests that run under Wine, 32-bit, runtime linked in.
# A Unicode program: the platform's generic names (IDC_ARROW, MAKEINTRESOURCE...) are the wide ones.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX UNICODE _UNICODE)
add_link_options(-static -static-libgcc -static-libstdc++)

add_library(pollwick_win STATIC
  ${POLLWICK_PORTABLE_SOURCES}
  base/log_win32.cpp
  base/wide_win32.cpp
  net/net_win32.cpp
  mail/tls_schannel.cpp
  shell/log_window.cpp
  shell/tray.cpp
  settings/store_win32.cpp
  settings/sheet.cpp
  settings/help_popup.cpp
  settings/sign_in_win32.cpp
  clock/local_clock_win32.cpp
)
pollwick_product_flags(pollwick_win)
target_link_libraries(pollwick_win PUBLIC ws2_32 secur32 crypt32 advapi32 comctl32 comdlg32 winmm shell32 ole32)

add_executable(pollwick WIN32 shell/main.cpp resources/pollwick.rc resources/version.rc)
# The resource compiler does not tell the build which pictures the script takes in.
file(GLOB POLLWICK_ICONS ${PROJECT_SOURCE_DIR}/resources/icons/*.ico)
set_source_files_properties(resources/pollwick.rc PROPERTIES OBJECT_DEPENDS "${POLLWICK_ICONS}")
pollwick_product_flags(pollwick)
target_link_libraries(pollwick PRIVATE pollwick_win)

# What a Windows user downloads: the stripped program and a short readme, zipped, named with the
# version from resources/names.h.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/names.h version REGEX "^#define POLLWICK_VERSION \"")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" POLLWICK_VERSION "${version}")
set(POLLWICK_RELEASE ${CMAKE_BINARY_DIR}/release)
configure_file(${PROJECT_SOURCE_DIR}/docs/release-readme.txt ${POLLWICK_RELEASE}/readme.txt @ONLY)
add_custom_target(release
  COMMAND ${CMAKE_COMMAND} -E make_directory ${POLLWICK_RELEASE}
  COMMAND ${CMAKE_STRIP} -o ${POLLWICK_RELEASE}/pollwick.exe $<TARGET_FILE:pollwick>
  COMMAND ${CMAKE_COMMAND} -E chdir ${POLLWICK_RELEASE}
          ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/pollwick-${POLLWICK_VERSION}.zip --format=zip pollwick.exe readme.txt
  DEPENDS pollwick
  COMMENT "Packing ${CMAKE_BINARY_DIR}/pollwick-${POLLWICK_VERSION}.zip")

# The remote control that the demo and the documentation's screenshots drive the program with.
add_executable(probe scripts/probe.cpp)
pollwick_product_flags(probe)

if(EXISTS ${POLLWICK_GTEST_DIR}/CMakeLists.txt)
  add_subdirectory(${POLLWICK_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests)
  add_subdirectory(bench)
endif()
