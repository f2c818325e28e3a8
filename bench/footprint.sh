#!/usr/bin/env bash
# Footprint figures, one command: the stripped program's size, start-up to icon under Wine
# (median of 10, warm Wine server) and the idle cost: how often pollwick.exe's threads wake up
# in an idle minute, counted from Linux as context switches (bench/startup_idle.cpp drives it).
#   bench/footprint.sh [BUILD_DIR] [IDLE_SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
export POLLWICK_IDLE_SECONDS=${2:-60}
prefix=$build/fixtures/wine/prefix

cmake -S "$top" -B "$build" -DPOLLWICK_SOAK=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
"$top/tests/footprint_size.sh" "$build/windows/pollwick.exe" 153600

log=$build/startup_idle.log
(cd "$build" && if ctest -R 'wine\.startup_idle' -V --timeout 900 >"$log" 2>&1; then echo 0; else echo 1; fi \
   >"$build/startup_idle.status") &
runner=$!

find_pid() {
  for dir in /proc/[0-9]*; do
    grep -qa "$1" "$dir/cmdline" 2>/dev/null || continue
    tr '\0' '\n' <"$dir/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && { basename "$dir"; return 0; }
  done
  return 1
}
# Per thread: id, name and voluntary + involuntary context switches.
switches() {
  for task in /proc/"$1"/task/*; do
    printf '%s %s %s\n' "$(basename "$task")" "$(tr ' ' _ <"$task/comm")" \
      "$(awk '/ctxt_switches/ {n += $2} END {print n}' "$task/status")"
  done
}

until grep -q 'idle: start' "$log" 2>/dev/null; do
  kill -0 "$runner" 2>/dev/null || break
  sleep 0.5
done
if pid=$(find_pid 'pollwick.exe'); then
  before=$(switches "$pid")
  started=$SECONDS
  until grep -q 'idle: end' "$log"; do sleep 0.2; done
  after=$(switches "$pid")
  elapsed=$((SECONDS - started))
  echo "idle: pollwick.exe over about $elapsed s, context switches per thread (before -> after):"
  join <(echo "$before" | sort) <(echo "$after" | sort) | awk '{printf "  thread %-7s %-16s %6d -> %6d  (+%d)\n", $1, $2, $3, $5, $5 - $3}'
fi
wait "$runner" || true
grep -E 'startup:' "$log" || true
[ "$(cat "$build/startup_idle.status")" = 0 ]
