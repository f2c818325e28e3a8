# The portable part of the product, free of platform calls: one list for the program and the tests.
set(POLLWICK_PORTABLE_SOURCES
  base/text.cpp
  base/log.cpp
  net/net.cpp
  net/net_lookup.cpp
  shell/tray_rules.cpp
  mail/md5.cpp
  mail/pop3.cpp
  settings/settings.cpp
  settings/sheet_rules.cpp
  clock/sntp.cpp
)
list(TRANSFORM POLLWICK_PORTABLE_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/../)
