# Wine as Pollwick runs under it, shared by the demo and the tests. Sourced, with WINEPREFIX set;
# when POLLWICK_FIXTURES names the tests' fixtures, their prefix and their X server are used.
if [ -n "${POLLWICK_FIXTURES:-}" ]; then
  export WINEPREFIX="$POLLWICK_FIXTURES/wine/prefix"
  [ -s "$POLLWICK_FIXTURES/xvfb/display" ] && export DISPLAY=":$(head -n1 "$POLLWICK_FIXTURES/xvfb/display")"
fi
# 32-bit, quiet, code page 932 for the program's texts, and no Mono, Gecko or sound-card noise.
export WINEARCH=win32 WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml,winealsa.drv,winepulse.drv="

# Makes the prefix if it is missing and sets it up: one virtual desktop with a taskbar, shared by
# every program of the prefix; a crash ends a program with a backtrace instead of a dialog.
wine_prefix_setup() {
  [ -f "$WINEPREFIX/system.reg" ] || wineboot -i
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1000x700 /f
  wineserver -w
} >/dev/null 2>&1 </dev/null
