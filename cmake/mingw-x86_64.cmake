# 64-bit Windows: the same program, tested under wine64 on machines that run 64-bit code only.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
