#!/usr/bin/env bash
# The pictures of docs/, taken of the real program under Wine on an X server of their own:
#   scripts/screenshots.sh [BUILD_DIR]     (the "docs" target of the build runs it)
# A demo mailbox with three messages, one of them already seen; the program checks at start-up
# and is then driven with the probe: the tray after the check and its new-mail notification, the
# log window, the menu, the three settings pages, and the tray after a failed check.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
work=$build/docs-shots
mkdir -p "$work"
# The program's texts need code page 932, which Wine takes from this locale (wine-env.sh sets it).
if ! locale -a 2>/dev/null | grep -i '^ja_JP\.utf-\?8$' >/dev/null; then
  echo "screenshots: the ja_JP.UTF-8 locale is missing: scripts/setup.sh generates it" >&2
  exit 1
fi
. "$top/scripts/wine-env.sh"  # Wine, and the build of the program that runs here ($windows_build)
exe=$build/$windows_build/pollwick.exe
probe() { wine "$build/$windows_build/probe.exe" "$@"; }

. "$top/scripts/fixtures/demo.sh"
trap 'demo_stop "$build/$windows_build/probe.exe"' EXIT
demo_display own
demo_start "$POP3_DOCS_PORT" STCH=1:REG_DWORD APOP=1:REG_DWORD ALLM=1:REG_DWORD OLDM=1:REG_DWORD \
  'EXEC=C:\Program Files\Mail\mailer.exe' PARA=/check

# NAME GEOMETRY [SCALE]: a part of the 1000 x 700 desktop, as a PNG in docs/.
shot() {
  import -display "$DISPLAY" -window root -crop "$2" +repage "$work/$1.png"
  convert "$work/$1.png" -scale "${3:-100}%" "$top/docs/$1.png"
}
# Waits for the end of a check: its last line in the log (whose window exists, hidden, from the start).
checked() {
  local text
  for _ in $(seq 100); do
    text=$(probe text 2>/dev/null) || true
    case $text in *分後に再接続します*) return 0 ;; esac
    sleep 0.2
  done
  echo "screenshots: no check ended" >&2
  return 1
}
wine "$exe" &
probe wait 20
checked  # the check at start-up found two new messages
sleep 0.5
shot tray-new-mail 300x60+700+640 200
sleep 3  # Wine's shell shows the notification about 2 s after it was asked for
shot tray-notification 300x90+700+610 200
probe log
sleep 1
shot demo-log 1000x700+0+0
probe exit
sleep 2
demo_set TLSM 1:REG_DWORD  # page 2 shows it
xdotool mousemove 990 690
wine "$exe" &
probe wait 20
sleep 2
# WINDOW NAME MARGIN [SCALE]: a window of the desktop, found by the probe, and MARGIN pixels around.
shot_window() {
  local x y w h m=$3
  read -r x y w h < <(probe rect "$1" | tr -d '\r')
  shot "$2" "$((w + 2 * m))x$((h + 2 * m))+$((x - m))+$((y - m))" "${4:-100}"
}
probe menu
sleep 1
shot_window menu tray-menu 10 200
xdotool key Escape
probe settings
sleep 2
for page in 0 1 2; do
  probe page $page
  sleep 1
  shot_window sheet "settings-page$((page + 1))" 0
done
xdotool key Escape
sleep 1
probe exit
sleep 2
demo_set STCH 1:REG_DWORD; demo_set PORT 9:REG_DWORD; demo_set TLSM 0:REG_DWORD
wine "$exe" &
probe wait 20
checked
sleep 0.5
shot tray-error 300x60+700+640 200
echo "screenshots: docs/tray-new-mail.png docs/tray-notification.png docs/demo-log.png docs/tray-menu.png docs/settings-page{1,2,3}.png docs/tray-error.png"
