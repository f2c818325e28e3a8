#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages.
# Safe to run again: it only installs what is missing.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
arch=$(bash "$top/scripts/windows-arch.sh")
# The program we ship is built everywhere; Wine and the tests' build follow what runs here:
# 32-bit Wine (an i386 package) where this machine runs 32-bit code, wine64 and a 64-bit
# cross-compiler where it runs 64-bit code only.
packages=(
  cmake make g++ googletest
  g++-mingw-w64-i686-posix mingw-w64-tools
  wine xvfb xdotool x11-utils imagemagick
  locales fonts-ipafont-gothic fonts-wine
  dovecot-pop3d chrony python3 openssl
)
case $arch in
i686) packages+=(wine32:i386) ;;
x86_64) packages+=(wine64 g++-mingw-w64-x86-64-posix) ;;
esac
# For the benchmarks (bench/) only: the peers bench/run.sh compares with, its delay line and the
# packet capture that times every client; the soak's plot.
bench_packages=(mpop fetchmail iptables iproute2 libnetfilter-queue-dev tcpdump gnuplot-nox)
[ "${POLLWICK_BENCH:-0}" = 1 ] && packages+=("${bench_packages[@]}")

sudo_() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ "$arch" = i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    sudo_ dpkg --add-architecture i386
  fi
  sudo_ apt-get update -q
  sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Under Wine the code page for programs that are not Unicode follows the locale: ja_JP.UTF-8 gives
# 932, en_US.UTF-8 1252, hi_IN.UTF-8 (a locale without one) UTF-8; the tests run under all three.
for name in ja_JP en_US hi_IN; do
  if ! locale -a 2>/dev/null | grep -qi "^$name\.utf-\?8\$"; then
    echo "setup: generating the $name.UTF-8 locale"
    sudo_ sed -i "s/^# *\($name.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" | sudo_ tee -a /etc/locale.gen >/dev/null
    generate=1
  fi
done
[ -z "${generate:-}" ] || sudo_ locale-gen >/dev/null

# The packaged services must not run on their own: the tests start private instances.
for svc in dovecot chrony; do
  if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$svc" 2>/dev/null; then
    sudo_ systemctl stop "$svc" || true
  fi
done
echo "setup: all dependencies present (Windows build run under Wine here: $arch)"
