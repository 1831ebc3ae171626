#!/usr/bin/env bash
# Builds the plug-ins with their AVX-512 adapters compiled over an emulation
# of AVX-512 (SIMDe, with tests/support/avx512_emulated.h) and runs the unit
# suites, so that those adapters are held to the shipped bytes on a machine
# whose processor has no AVX-512 (which then never runs them). Needs AVX2
# and FMA, on which the emulation is built. Installs missing Debian packages
# first.
#
#   scripts/avx512-emulated-test.sh [BUILD_DIR]   (default build/avx512-emulated)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${EMULATION_PACKAGES[@]}"

if ! grep -qw avx2 /proc/cpuinfo || ! grep -qw fma /proc/cpuinfo; then
  echo "this processor has no AVX2 with FMA: the AVX-512 emulation cannot run here (skipped)"
  exit 0
fi
dir=${1:-build/avx512-emulated}
jobs=$(nproc)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEFFECTS_WERROR=ON \
  -DEFFECTS_AVX512_EMULATED=ON -DEFFECTS_HOST_TESTS=OFF -DEFFECTS_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$jobs"
ctest --test-dir "$dir" -j"$jobs" --output-on-failure
