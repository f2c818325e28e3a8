# Wine as Pollwick runs under it, shared by the demo and the tests. Sourced, with WINEPREFIX set;
# when POLLWICK_FIXTURES names the tests' fixtures, their prefix and their X server are used.
if [ -n "${POLLWICK_FIXTURES:-}" ]; then
  export WINEPREFIX="$POLLWICK_FIXTURES/wine/prefix"
  [ -s "$POLLWICK_FIXTURES/xvfb/display" ] && export DISPLAY=":$(head -n1 "$POLLWICK_FIXTURES/xvfb/display")"
fi
# The Windows build that runs here (scripts/windows-arch.sh decides: i686, the program we ship,
# wherever this machine runs 32-bit code) and Wine for it; quiet, no Mono, Gecko or sound-card
# noise, and a Japanese system unless POLLWICK_LOCALE names another (Wine takes the code page for
# programs that are not Unicode from it: 932 for ja_JP, 1252 for en_US, UTF-8 for a locale without
# one of its own, such as hi_IN). Stops the calling script with one line when Wine cannot start.
pollwick_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
POLLWICK_WINDOWS_ARCH=$(bash "$pollwick_scripts/windows-arch.sh") || exit 1
export POLLWICK_WINDOWS_ARCH
if [ "$POLLWICK_WINDOWS_ARCH" = x86_64 ]; then
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 PATH="$pollwick_scripts/wine64:$PATH"
  windows_build=windows-x86_64  # beside the build of the program we ship, build/windows
else
  export WINEARCH=win32
  windows_build=windows
fi
if ! wine_version=$(wine --version 2>&1); then
  echo "wine: cannot start Wine for $POLLWICK_WINDOWS_ARCH programs (${wine_version##*$'\n'}): scripts/setup.sh installs it$(
    [ "$POLLWICK_WINDOWS_ARCH" = i686 ] && echo '; where this machine runs only 64-bit code, POLLWICK_WINDOWS_ARCH=x86_64')" >&2
  exit 1
fi
export WINEDEBUG=-all LC_ALL=${POLLWICK_LOCALE:-ja_JP.UTF-8}
export WINEDLLOVERRIDES="mscoree,mshtml,winealsa.drv,winepulse.drv="

# Makes the prefix if it is missing and sets it up: one virtual desktop with a taskbar, shared by
# every program of the prefix; a crash ends a program with a backtrace instead of a dialog.
# The Japanese Gothic faces are drawn with the IPA Gothic fonts (fonts-ipafont-gothic), each
# proportional one with the proportional IPAPGothic: the dialogs' own "ＭＳ Ｐゴシック", and
# "MS UI Gothic", which the property sheet's frame gets for "MS Shell Dlg". Without these Wine
# falls back to the fixed-pitch IPAGothic for all of them, whose text runs past the labels' room;
# and the sheet must measure its pages in the font they are drawn in, or it cuts their right side.
# A prefix made for the other architecture is refused, or with --throwaway made anew.
wine_prefix_setup() {
  local made
  if [ -f "$WINEPREFIX/system.reg" ]; then
    made=$(sed -n 's/^#arch=//p' "$WINEPREFIX/system.reg")
    if [ "$made" != "$WINEARCH" ] && [ "${1:-}" = --throwaway ]; then
      rm -rf "$WINEPREFIX"
      wine_prefix_setup
      return
    elif [ "$made" != "$WINEARCH" ]; then
      echo "wine: $WINEPREFIX was made for $made programs, not $WINEARCH: remove it, or set WINEPREFIX to another folder" >&2
      exit 1
    fi
  elif ! wineboot -i >/dev/null 2>&1 </dev/null; then
    echo "wine: could not make the prefix $WINEPREFIX ($WINEARCH): wineboot failed" >&2
    exit 1
  fi
  {
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1000x700 /f
    local face
    for face in 'ＭＳ Ｐゴシック=IPAPGothic' 'MS PGothic=IPAPGothic' 'MS UI Gothic=IPAPGothic' \
      'ＭＳ ゴシック=IPAGothic' 'MS Gothic=IPAGothic'; do
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${face%%=*}" /d "${face#*=}" /f
    done
    wineserver -w
  } >/dev/null 2>&1 </dev/null
}

# A text that resources/names.h defines, as a script needs it:  pollwick_name SETTINGS_KEY_PATH
pollwick_name() {
  sed -n "s/^#define $1 \"\(.*\)\".*/\1/p" "$(dirname "${BASH_SOURCE[0]}")/../resources/names.h" | sed 's/\\\\/\\/g'
}
