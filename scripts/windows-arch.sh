#!/usr/bin/env bash
# Prints which Windows build of Pollwick this machine can run under Wine: i686, the program we
# ship, wherever the kernel runs 32-bit x86 code; x86_64 (under wine64) where it runs 64-bit code
# only. Found by running a 96-byte 32-bit program that exits with 42, so no package needs to be
# there yet. POLLWICK_WINDOWS_ARCH=i686|x86_64 forces either.
set -euo pipefail
case ${POLLWICK_WINDOWS_ARCH:-} in
i686 | x86_64) echo "$POLLWICK_WINDOWS_ARCH"; exit 0 ;;
"") ;;
*) echo "windows-arch: POLLWICK_WINDOWS_ARCH must be i686 or x86_64, not '$POLLWICK_WINDOWS_ARCH'" >&2; exit 1 ;;
esac
case $(uname -m) in
x86_64 | i?86) ;;
*) echo "windows-arch: Wine runs Pollwick only on x86 machines; this one is $(uname -m)" >&2; exit 1 ;;
esac

# ELF header (i386, entry 0x08048054), one loadable segment of the whole file, then
# mov ebx, 42; mov eax, 1 (exit); int 0x80.
elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
elf+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
elf+='\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
elf+='\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
elf+='\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80'

# Prints how running it from DIR went: i686, x86_64, or nothing when that tells nothing (the folder
# takes no files, or may not run programs).
try() {
  local file out status=0
  file=$(mktemp "$1/pollwick-ia32.XXXXXX" 2>/dev/null) || return 0
  printf "$elf" >"$file" && chmod +x "$file"
  out=$("$file" 2>&1) || status=$?
  rm -f "$file"
  if [ "$status" = 42 ]; then echo i686
  elif [[ $out == *"Exec format error"* ]]; then echo x86_64
  fi
}
# A temporary folder may be mounted without the right to run programs: then the source tree.
for dir in "${TMPDIR:-/tmp}" "$(cd "$(dirname "$0")/.." && pwd)"; do
  arch=$(try "$dir")
  [ -z "$arch" ] || { echo "$arch"; exit 0; }
done
echo "windows-arch: could not tell whether this machine runs 32-bit programs; set POLLWICK_WINDOWS_ARCH=i686 or x86_64" >&2
exit 1
