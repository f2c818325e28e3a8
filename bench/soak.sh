#!/usr/bin/env bash
# The soak, one command: a running pollwick.exe under Wine checks 2,000 times against Dovecot,
# the mailbox changing between checks and every tenth check refused (tests/windows/soak_test.cpp).
# Meanwhile this script samples the Wine side from Linux, where Wine's own answers to
# GetGuiResources and GetProcessHandleCount are 0: the open file descriptors of pollwick.exe and
# of its Wine server (which holds every kernel object: sockets, events, registry keys) and
# pollwick.exe's resident memory. The descriptors must end where they were after the first
# checks; the memory may grow by 1 MB at most (docs/benchmarks.md has what it did).
#   bench/soak.sh [BUILD_DIR] [CHECKS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
export POLLWICK_SOAK_CHECKS=${2:-2000}
prefix=$build/fixtures/wine/prefix

cmake -S "$top" -B "$build" -DPOLLWICK_SOAK=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
log=$build/soak.log
(cd "$build" && if ctest -R 'wine\.soak_test' -V --timeout 1800 >"$log" 2>&1; then echo 0; else echo 1; fi \
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

samples=$build/soak.samples
: >"$samples"
started=
while kill -0 "$runner" 2>/dev/null; do
  if pid=$(find_pid 'pollwick.exe') && server=$(find_pid wineserver); then
    started=${started:-$SECONDS}
    # The first seconds are start-up and the first checks: not counted.
    [ $((SECONDS - started)) -ge 10 ] && echo "$(fds "$pid") $(fds "$server") $(rss "$pid")" >>"$samples"
  fi
  sleep 2
done
wait "$runner" || true

grep -E 'soak:|Passed|Failed|Failure|Expected|Which is|Value of|  Actual' "$log" || true
if [ ! -s "$samples" ]; then
  echo "soak: no samples of the Wine side were taken" >&2
  exit 1
fi
# A sample may fall inside a check, while its socket is open (in pollwick.exe, and three in the
# Wine server: the client's and the soak's relay's two). A leak raises the floor: compare the
# least of the first ten samples with the least of the last ten, and bound the peaks.
flat=0
head -n -1 "$samples" | awk '
  { f[NR] = $1; s[NR] = $2; r[NR] = $3; if ($1 > fm) fm = $1; if ($2 > sm) sm = $2 }
  function least(a, from, to,   i, m) { m = a[from]; for (i = from; i <= to; i++) if (a[i] < m) m = a[i]; return m }
  END {
    n = NR < 10 ? NR : 10
    f1 = least(f, 1, n); f2 = least(f, NR - n + 1, NR); s1 = least(s, 1, n); s2 = least(s, NR - n + 1, NR)
    printf "soak: pollwick.exe fds %d -> %d (peak %d), wineserver fds %d -> %d (peak %d), pollwick.exe RSS %d -> %d KB, %d samples\n", f1, f2, fm, s1, s2, sm, r[1], r[NR], NR
    exit !(f2 <= f1 && fm <= f1 + 1 && s2 <= s1 && sm <= s1 + 4 && r[NR] <= r[1] + 1024)
  }' || flat=1
status=$(cat "$build/soak.status")
[ "$status" = 0 ] && [ "$flat" = 0 ]
