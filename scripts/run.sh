#!/usr/bin/env bash
# Installs what is missing, builds Pollwick and starts it under Wine in a virtual desktop.
#   scripts/run.sh           your own settings and server, in ~/.local/share/pollwick/wineprefix
#   scripts/run.sh --demo    a local demo mailbox and a throwaway prefix set up to check it
# Without a display it runs under Xvfb, takes screenshots, and prints where they are.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
demo=0
[ "${1:-}" = "--demo" ] && demo=1
build=$top/build

# wine-env.sh below sets LC_ALL=ja_JP.UTF-8 in this shell. A locale that setup.sh has only just
# generated is not seen by a process that was already running (glibc opens the locale archive
# once), so bash would warn that it cannot change to it: then the run goes on in a fresh shell.
if [ -z "${POLLWICK_RUN_SET_UP:-}" ]; then
  had_locale=0
  locale -a 2>/dev/null | grep -i '^ja_JP\.utf-\?8$' >/dev/null && had_locale=1
  bash "$top/scripts/setup.sh"
  [ "$had_locale" = 1 ] || POLLWICK_RUN_SET_UP=1 exec bash "$top/scripts/run.sh" "$@"
fi
# Wine, and which build of the program it runs here (the 32-bit one we ship wherever this machine
# runs 32-bit code); it stops here, saying why, when Wine cannot start.
. "$top/scripts/wine-env.sh"
echo "run: the $POLLWICK_WINDOWS_ARCH build of Pollwick under Wine"
# Only what runs: the program and its remote control, in the tree the tests cross-build in.
cmake -S "$top" -B "$build/$windows_build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-$POLLWICK_WINDOWS_ARCH.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/$windows_build" -j "$(nproc)" --target pollwick probe
exe=$build/$windows_build/pollwick.exe
probe=$build/$windows_build/probe.exe
work=$build/demo
mkdir -p "$work"
. "$top/scripts/fixtures/demo.sh"
[ "$demo" = 0 ] || trap 'demo_stop "$probe"' EXIT
demo_display

if [ "$demo" = 1 ]; then
  demo_start "$POP3_DEMO_PORT" TIME=1:REG_DWORD STCH=1:REG_DWORD
  echo "run: demo mailbox demo/demo on 127.0.0.1:$POP3_DEMO_PORT with 3 messages"
else
  export WINEPREFIX=${WINEPREFIX:-$HOME/.local/share/pollwick/wineprefix}
  if [ ! -d "$WINEPREFIX" ]; then
    echo "run: making your Wine prefix in $WINEPREFIX (about 15 s)"
    mkdir -p "$(dirname "$WINEPREFIX")"
  fi
  wine_prefix_setup
fi

if [ "$demo_x" = 0 ] && [ "$demo" = 0 ]; then
  echo "run: starting Pollwick; it lives in the virtual desktop's notification area (right-click it)"
  exec wine "$exe"
fi

# Wine's own trace of the sound calls tells whether the new-mail sound was asked for.
WINEDEBUG=-all,trace+winmm wine "$exe" >/dev/null 2>"$work/winmm-trace.log" &
wine "$probe" wait 20
shoot() {  # the virtual desktop only
  [ "$demo_x" = 1 ] || return 0
  import -display "$DISPLAY" -window root -crop 1000x700+0+0 +repage "$work/$1"
  echo "run: screenshot: $work/$1"
}
if [ "$demo" = 1 ]; then
  sleep 4   # the first check runs at once
  shoot screenshot-tray.png
  wine "$probe" log >/dev/null 2>&1   # show the log window
  sleep 2
  shoot screenshot-log.png
  echo "run: the log after the first check:"
  wine "$probe" text | sed 's/\r$//'
  if grep -qi "mailbeep" "$work/winmm-trace.log"; then
    echo "run: the count grew, so Pollwick played the \"mailbeep\" sound (PlaySound seen in Wine's trace)"
  else
    echo "run: no \"mailbeep\" sound was asked for"
  fi
fi
if [ "$demo_x" = 1 ]; then
  [ "$demo" = 1 ] || { sleep 4; shoot screenshot.png; }
  exit 0
fi
echo "run: Pollwick is running with the demo mailbox; close it from its menu (終了) when done."
wait
