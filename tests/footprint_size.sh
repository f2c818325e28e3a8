#!/bin/sh
# Size budget of the download: pollwick.exe stripped as the release target strips it, runtime
# linked in. Raise the budget in tests/CMakeLists.txt on purpose, never by accident.
#   tests/footprint_size.sh PROGRAM BUDGET_BYTES
set -eu
stripped=$(mktemp)
trap 'rm -f "$stripped"' EXIT
i686-w64-mingw32-strip -o "$stripped" "$1"
size=$(stat -c %s "$stripped")
echo "stripped pollwick.exe: $size bytes, budget $2"
[ "$size" -le "$2" ]
