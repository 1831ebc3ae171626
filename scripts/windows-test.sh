#!/usr/bin/env bash
# Cross-builds the plug-ins as 64-bit Windows DLLs with MinGW-w64, runs the
# unit suites (contract, models, instruction-set variants, allocation
# failure, checksums, the editors' descriptors) under Wine, and makes the ZIP
# and the installer and tests the installer's silent install and uninstall
# under Wine (the ctest windows_package). Headless: a private Wine prefix in
# the build folder, no display. Installs missing Debian packages first.
#
#   scripts/windows-test.sh [BUILD_DIR]   (default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"

dir=${1:-build/windows}
jobs=$(nproc)
cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEFFECTS_WERROR=ON -DEFFECTS_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$jobs"

# The build folder's own Wine prefix, as its wine-run.sh uses it.
mkdir -p "$dir/wine"
export WINEPREFIX=$(cd "$dir/wine" && pwd)
# One Wine server for the whole run, and Wine's own services started before
# ctest: a service that a test's Wine process started would inherit that
# test's output pipe and keep ctest waiting for it.
# Debian 12's and 13's packages keep it in /usr/lib/wine/, sid's in the
# multiarch folder.
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=/usr/lib/x86_64-linux-gnu/wine/wineserver
"$wineserver" -p 2>/dev/null || true  # already running for this prefix
trap '"$wineserver" -k 2>/dev/null || true' EXIT
"$dir/wine-run.sh" wineboot -u </dev/null >/dev/null 2>&1
ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 900
