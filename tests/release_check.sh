#!/usr/bin/env bash
# What a Windows user downloads, checked:
#   release_check.sh image PROGRAM.exe       the stripped program is a 32-bit (PE32, i386) image
#                                            within the 150 KB budget
#   release_check.sh twice SOURCE BUILD      the release zip of BUILD, and one built again from
#                                            nothing in another folder, have the same bytes
set -euo pipefail
case $1 in
image)
  stripped=$2.stripped
  i686-w64-mingw32-strip -o "$stripped" "$2"
  # The PE header's machine (0x14c: i386) and the optional header's magic (0x10b: PE32).
  pe=$(od -An -tu4 -j 60 -N 4 "$stripped" | tr -d ' ')
  machine=$(od -An -tx2 -j $((pe + 4)) -N 2 "$stripped" | tr -d ' ')
  magic=$(od -An -tx2 -j $((pe + 24)) -N 2 "$stripped" | tr -d ' ')
  size=$(stat -c %s "$stripped")
  echo "stripped pollwick.exe: $size bytes, machine 0x$machine, optional header 0x$magic"
  [ "$machine" = 014c ] && [ "$magic" = 010b ] && [ "$size" -le 153600 ]
  ;;
twice)
  source=$2 build=$3 again=$3-again
  cmake --build "$build" --target release >/dev/null
  rm -rf "$again"
  cmake -S "$source" -B "$again" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE="$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")" \
    -DPOLLWICK_WINDOWS_TESTS=OFF >/dev/null
  cmake --build "$again" -j "$(nproc)" --target release >/dev/null
  sha256sum "$build"/pollwick-*.zip "$again"/pollwick-*.zip
  first=$(sha256sum <"$build"/pollwick-*.zip) second=$(sha256sum <"$again"/pollwick-*.zip)
  rm -rf "$again"
  [ "$first" = "$second" ]
  ;;
esac
