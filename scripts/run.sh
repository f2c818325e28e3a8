#!/usr/bin/env bash
# Installs what is missing, builds Pollwick and starts it under Wine:
#   scripts/run.sh [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}

bash "$top/scripts/setup.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target windows
exe="$build/windows/pollwick.exe"
echo "built $exe"

export WINEARCH=win32 WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml,winealsa.drv,winepulse.drv="
export WINEPREFIX=${WINEPREFIX:-$HOME/.local/share/pollwick/wineprefix}
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: Pollwick was built but not started. Start it with: wine $exe"
  exit 0
fi
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
exec wine "$exe"
