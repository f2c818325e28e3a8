# The Windows side: pollwick.exe and the tests that run under Wine, runtime linked in; 32-bit as we
# ship it, or 64-bit where the tests must run so (cmake/mingw-*.cmake).
# A Unicode program: the platform's generic names (IDC_ARROW, MAKEINTRESOURCE...) are the wide ones.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX UNICODE _UNICODE)
add_link_options(-static -static-libgcc -static-libstdc++)
# The same sources give the same program wherever and whenever they are built: no link time in
# the image and no build folder in its texts.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
# Only the program and its remote control where the tests run another build (cmake/native.cmake).
option(POLLWICK_WINDOWS_TESTS "Build the tests and the measuring programs of this side" ON)

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
target_link_libraries(pollwick_win PUBLIC ws2_32 secur32 crypt32 advapi32 comctl32 comdlg32 winmm shell32 ole32 normaliz)

add_executable(pollwick WIN32 shell/main.cpp resources/pollwick.rc resources/version.rc)
# The resource compiler does not tell the build which files the scripts take in.
file(GLOB POLLWICK_ICONS ${PROJECT_SOURCE_DIR}/resources/icons/*.ico)
set_source_files_properties(resources/pollwick.rc PROPERTIES OBJECT_DEPENDS "${POLLWICK_ICONS}")
set_source_files_properties(resources/version.rc PROPERTIES OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/resources/pollwick.manifest)
pollwick_product_flags(pollwick)
target_link_libraries(pollwick PRIVATE pollwick_win)

# What a Windows user downloads: the stripped program and a short readme, zipped, named with the
# version from resources/names.h. Two builds of the same sources give the same zip.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/names.h version REGEX "^#define POLLWICK_VERSION \"")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" POLLWICK_VERSION "${version}")
set(POLLWICK_RELEASE ${CMAKE_BINARY_DIR}/release)
configure_file(${PROJECT_SOURCE_DIR}/docs/release-readme.txt ${POLLWICK_RELEASE}/readme.txt @ONLY)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(POLLWICK_ZIP ${CMAKE_BINARY_DIR}/pollwick-${POLLWICK_VERSION}.zip)
add_custom_target(release
  # (strip stamps the image with the time it runs, unless SOURCE_DATE_EPOCH names another)
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_STRIP} -o ${POLLWICK_RELEASE}/pollwick.exe $<TARGET_FILE:pollwick>
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/pack_release.py ${PROJECT_SOURCE_DIR} ${POLLWICK_ZIP}
          ${POLLWICK_RELEASE}/pollwick.exe ${POLLWICK_RELEASE}/readme.txt
  DEPENDS pollwick
  COMMENT "Packing ${POLLWICK_ZIP}")

# The remote control that the demo and the documentation's screenshots drive the program with.
add_executable(probe scripts/probe.cpp)
pollwick_product_flags(probe)

if(POLLWICK_WINDOWS_TESTS AND EXISTS ${POLLWICK_GTEST_DIR}/CMakeLists.txt)
  add_subdirectory(${POLLWICK_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests)
  add_subdirectory(bench)
endif()
