#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   scripts/test.sh [BUILD_DIR]
# Native unit and peer tests run directly (with AddressSanitizer and UBSan); the Windows program
# and its tests are cross-built and run under Wine against the same real peers.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}

bash "$top/scripts/setup.sh"
# The runs where names never resolve need network namespaces of their own: without root, and where
# the system gives no user namespaces, sudo makes them; it asks once, now.
if [ "$(id -u)" != 0 ] && ! unshare --user --map-root-user true 2>/dev/null; then sudo -v; fi
# The benchmarks register their runs in the same build when asked (bench/soak.sh); the tests never run them.
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOLLWICK_SOAK=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build"
# The fixtures clean up after themselves; the run ends with ctest's own summary.
exec ctest -j 2 --output-on-failure --timeout 600
