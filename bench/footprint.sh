#!/usr/bin/env bash
# Footprint figures, one command: the stripped program's size, start-up to icon under Wine
# (median of 10, warm Wine server) and the idle cost: how often pollwick.exe's threads wake up
# in an idle minute, counted from Linux as context switches sampled every second
# (bench/startup_idle.cpp drives it).
#   bench/footprint.sh [BUILD_DIR] [IDLE_SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
export POLLWICK_IDLE_SECONDS=${2:-60}
prefix=$build/fixtures/wine/prefix

cmake -S "$top" -B "$build" -DPOLLWICK_SOAK=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
(cd "$build" && ctest -R '^release\..*size' -V | grep 'stripped pollwick.exe')

log=$build/startup_idle.log
(cd "$build" && if ctest -R 'bench\.startup_idle' -V --timeout 900 >"$log" 2>&1; then echo 0; else echo 1; fi \
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
  # One sample a second. The program is told to exit right after "idle: end", so only samples
  # taken before that line appeared count: the exit's own wake-ups must not.
  samples=$build/idle.samples
  : >"$samples"
  while ! grep -q 'idle: end' "$log"; do
    echo "$SECONDS $(switches "$pid" | awk '{n += $3} END {print n}')" >>"$samples"
    sleep 1
  done
  awk 'NR == 1 {t0 = $1; n0 = $2; last = $2}
       NR > 1 {if ($2 != last) busy++; last = $2; t = $1}
       END {printf "idle: pollwick.exe over %d s: %d context switches (all threads), %d of %d one-second samples changed\n",
                   t - t0, last - n0, busy, NR - 1}' "$samples"
  echo "idle: threads of pollwick.exe: $(switches "$pid" | awk '{printf "%s ", $2}')"
fi
wait "$runner" || true
grep -E 'startup:' "$log" || true
[ "$(cat "$build/startup_idle.status")" = 0 ]
