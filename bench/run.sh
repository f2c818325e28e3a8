#!/usr/bin/env bash
# The speed benchmark, one command (as root; it makes and removes a network namespace):
#   bench/run.sh [BUILD_DIR] [--rounds N] [--warmup N] [--delays 0,20,50,100] [--baseline OLD.exe]
# Builds the delay line and, in BUILD_DIR's Windows sub-build, pollwick.exe and the probe; makes
# two Wine prefixes of its own on first use (one pollwick.exe logs in with USER/PASS, the other
# with APOP), starts an X server for them, then runs bench/bench.py, which times every client from
# a packet capture. The table is printed and kept in BUILD_DIR/bench/results.md.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$(cd "$1" && pwd); shift; fi
work=$build/bench
mkdir -p "$work"

POLLWICK_BENCH=1 bash "$top/scripts/setup.sh"
. "$top/scripts/wine-env.sh"  # Wine, and which build of the program runs here ($windows_build)
gcc -O2 -Wall -Wextra -Werror -o "$work/delay" "$top/bench/delay.c" -lnetfilter_queue
# Only the programs it runs (and the one we ship, whose size it reports), once the Windows
# sub-builds exist; all of them otherwise.
if [ -f "$build/$windows_build/CMakeCache.txt" ] && [ -f "$build/windows/CMakeCache.txt" ]; then
  cmake --build "$build/$windows_build" --target pollwick probe >/dev/null
  cmake --build "$build/windows" --target pollwick >/dev/null
else
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target windows $([ "$windows_build" = windows ] || echo "$windows_build") >/dev/null
fi

cleanup() {
  for login in userpass apop before-userpass before-apop; do
    WINEPREFIX=$work/prefix-$login wineserver -k 2>/dev/null || true
  done
  bash "$top/scripts/fixtures/xvfb.sh" stop "$work/xvfb"
}
trap cleanup EXIT
# pollwick.exe is a GUI program: an X server of the benchmark's own, a virtual desktop per prefix.
bash "$top/scripts/fixtures/xvfb.sh" start "$work/xvfb"
export DISPLAY=":$(head -n1 "$work/xvfb/display")"
prefixes="userpass apop"
case " $* " in *" --baseline "*) prefixes="$prefixes before-userpass before-apop" ;; esac
for login in $prefixes; do
  export WINEPREFIX=$work/prefix-$login
  [ -f "$WINEPREFIX/system.reg" ] || echo "bench: making the Wine prefix $WINEPREFIX (about 15 s)"
  wine_prefix_setup --throwaway
  # A warm Wine server for the run, outside any pipe; stopped again at the end. (bench.py starts
  # the program and the probe at once: without a running server the probe was seen to hang.)
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
done
unset WINEPREFIX  # each pollwick.exe gets its own from bench/bench.py; nothing else runs in one

python3 "$top/bench/bench.py" --source "$top" --work "$work" --pollwick "$build/$windows_build/pollwick.exe" \
  --arch "$POLLWICK_WINDOWS_ARCH" --shipped "$build/windows/pollwick.exe" \
  --probe "$build/$windows_build/probe.exe" --minimal "$top/bench/minimal.py" --delay "$work/delay" \
  --out "$work/results.md" "$@"
