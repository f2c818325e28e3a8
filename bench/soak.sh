#!/usr/bin/env bash
# The soak, one command: a running pollwick.exe under Wine checks 2,000 times against Dovecot,
# the mailbox changing between checks and every tenth check refused (bench/soak.cpp).
# Meanwhile this script samples the Wine side from Linux, where Wine's own answers to
# GetGuiResources and GetProcessHandleCount are 0: the open file descriptors of pollwick.exe and
# of its Wine server (which holds every kernel object: sockets, events, registry keys) and
# pollwick.exe's resident memory, in quiet moments between checks. The descriptors must end
# where they were after the first checks; the memory may grow by 1 MB at most
# (docs/benchmarks.md has what it did).
#   bench/soak.sh [BUILD_DIR] [CHECKS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
export POLLWICK_SOAK_CHECKS=${2:-2000}
prefix=$build/fixtures/wine/prefix

cmake -S "$top" -B "$build" -DPOLLWICK_SOAK=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
log=$build/soak.log
(cd "$build" && if ctest -R 'bench\.soak' -V --timeout 1800 >"$log" 2>&1; then echo 0; else echo 1; fi \
   >"$build/soak.status") &
runner=$!

# The process of the prefix whose command line names the program.
find_pid() {
  for dir in /proc/[0-9]*; do
    grep -qa "$1" "$dir/cmdline" 2>/dev/null || continue
    tr '\0' '\n' <"$dir/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && { basename "$dir"; return 0; }
  done
  return 1
}
fds() { ls "/proc/$1/fd" 2>/dev/null | wc -l; }
rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }

# The soak pauses for 3 s after checks 10, 500, 1000, ... and the last, with no check running
# and so no socket open: each pause gets one sample.
samples=$build/soak.samples
: >"$samples"
seen=0
while kill -0 "$runner" 2>/dev/null; do
  reported=$(grep -c 'soak: after check' "$log" 2>/dev/null || true)
  if [ "${reported:-0}" -gt "$seen" ] && pid=$(find_pid 'pollwick.exe') && server=$(find_pid wineserver); then
    seen=$reported
    sleep 0.5
    echo "$(grep 'soak: after check' "$log" | tail -n1 | awk '{print $5}' | tr -d :) $(fds "$pid") $(fds "$server") $(rss "$pid")" \
      >>"$samples"
  fi
  sleep 0.2
done
wait "$runner" || true

grep -E 'soak:|Passed|Failed|Failure|Expected|Which is|Value of|  Actual' "$log" || true
if [ "$(wc -l <"$samples")" -lt 2 ]; then
  echo "soak: fewer than two quiet samples of the Wine side were taken" >&2
  exit 1
fi
# Between checks pollwick.exe holds no socket: its descriptors and the Wine server's must not
# rise above where they were after check 10; the memory may grow by 1 MB at most.
flat=0
awk '
  NR == 1 { f1 = $2; s1 = $3; r1 = $4 }
  { printf "soak: after check %5d: pollwick.exe %d fds, %d KB resident; wineserver %d fds\n", $1, $2, $4, $3
    f2 = $2; s2 = $3; r2 = $4 }
  END {
    printf "soak: pollwick.exe fds %d -> %d, wineserver fds %d -> %d, pollwick.exe RSS %d -> %d KB (%+d)\n", f1, f2, s1, s2, r1, r2, r2 - r1
    exit !(f2 <= f1 && s2 <= s1 && r2 <= r1 + 1024)
  }' "$samples" || flat=1
status=$(cat "$build/soak.status")
[ "$status" = 0 ] && [ "$flat" = 0 ]
