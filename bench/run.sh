#!/usr/bin/env bash
# The speed benchmark, one command (as root; it makes and removes a network namespace):
#   bench/run.sh [BUILD_DIR] [--rounds N] [--delays 0,20,50,100]
# Builds the delay line, a plain optimised native check program and (from BUILD_DIR's Windows
# sub-build) the Windows one, makes a Wine prefix of its own on first use, then runs
# bench/bench.py. The table is printed and kept in BUILD_DIR/bench/results.md.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then build=$(cd "$1" && pwd); shift; fi
work=$build/bench
mkdir -p "$work/obj"

POLLWICK_BENCH=1 bash "$top/scripts/setup.sh"
gcc -O2 -Wall -Wextra -Werror -o "$work/delay" "$top/bench/delay.c" -lnetfilter_queue

# Pollwick's check as it ships (optimised, no sanitizers), with the POSIX socket layer.
product=(shell/text.cpp shell/log.cpp shell/log_posix.cpp mail/md5.cpp mail/pop3.cpp mail/net_posix.cpp
         settings/settings.cpp settings/store_memory.cpp)
[ -f "$top/mail/tls_none.cpp" ] && product+=(mail/tls_none.cpp)
objects=()
for source in "${product[@]}"; do
  object=$work/obj/$(basename "$source" .cpp).o
  g++ -O2 -std=c++20 -fno-exceptions -fno-rtti -finput-charset=UTF-8 -fexec-charset=CP932 -I"$top" \
      -c "$top/$source" -o "$object"
  objects+=("$object")
done
g++ -O2 -std=c++20 -I"$top" -o "$work/check" "$top/bench/check.cpp" "${objects[@]}"

# The same check built for Windows, run under Wine in a prefix of the benchmark's own.
wine_args=()
if [ -d "$build/windows" ]; then
  cmake --build "$build/windows" --target bench_check >/dev/null
  export WINEPREFIX=$work/prefix WINEARCH=win32 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml,winealsa.drv,winepulse.drv="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
  fi
  wine_args=(--wine-check "$build/windows/bench/bench_check.exe" --wine-prefix "$WINEPREFIX")
  # A warm Wine server for the run, outside any pipe; stopped again at the end.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
  trap 'wineserver -k 2>/dev/null || true' EXIT
fi

python3 "$top/bench/bench.py" --source "$top" --check "$work/check" --delay "$work/delay" \
  "${wine_args[@]}" --out "$work/results.md" "$@"
