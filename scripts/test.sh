#!/usr/bin/env bash
# Configures, builds and runs the whole suite: the optimised build with
# warnings as errors, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the concurrency test under ThreadSanitizer, the
# unit suites with the AVX-512 code on an emulation of AVX-512, the unit
# suites of an aarch64 cross build under qemu, a few iterations of the
# benchmark, and a short libFuzzer run per plug-in; the Windows DLLs' unit
# suites and installer under Wine; the macOS build, its checks, and its
# machine code's unit suites through the test host's Mach-O loader (x86_64
# natively, arm64 under qemu); then the release suite once more in a
# Debian 13 chroot, with its compiler and its ffmpeg, MLT and GStreamer.
# Installs missing Debian packages first.
#
#   FUZZ_SECONDS           seconds per fuzzer (default 60; 0 skips fuzzing)
#   EFFECTS_CHROOT_SUITES  the Debian releases whose chroots run the release
#                          suite (default trixie; "trixie sid" adds sid; the
#                          release this machine runs is left out)
#   EFFECTS_CHROOT_CACHE   where those chroots are kept between runs
#                          (default /var/cache/effects-chroots)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}" "${CROSS_PACKAGES[@]}" \
  "${WINDOWS_PACKAGES[@]}" "${EMULATION_PACKAGES[@]}" "${MACOS_PACKAGES[@]}"

fuzz_seconds=${FUZZ_SECONDS:-60}
jobs=$(nproc)

step() { printf '\n=== %s\n' "$*"; }

step "release build"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEFFECTS_WERROR=ON >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release -j"$jobs" --output-on-failure

step "sanitizer build"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DEFFECTS_WERROR=ON \
  -DEFFECTS_SANITIZE=ON -DEFFECTS_BENCH=OFF >/dev/null
cmake --build build/sanitize -j"$jobs"
ctest --test-dir build/sanitize -j"$jobs" --output-on-failure

step "ThreadSanitizer build: the plug-ins and the concurrency test"
# Only what this step runs is built. Not with -Werror: GCC's warnings under
# this instrumentation include false array-bounds ones; the two builds above
# hold the code to no warnings.
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEFFECTS_TSAN=ON \
  -DEFFECTS_WERROR=OFF >/dev/null
cmake --build build/tsan -j"$jobs" --target concurrency_test
ctest --test-dir build/tsan -j"$jobs" --output-on-failure

step "AVX-512 code under an emulation of AVX-512: unit suites"
scripts/avx512-emulated-test.sh build/avx512-emulated

step "aarch64 cross build, unit suites under qemu-aarch64"
scripts/cross-test.sh build/aarch64

step "Windows cross build: unit suites, ZIP and installer under Wine"
scripts/windows-test.sh build/windows

step "macOS cross build: checks, and unit suites through the Mach-O loader"
scripts/macos-test.sh build/macos

step "benchmark smoke run"
build/release/bench/effects_bench --benchmark_min_time=0.01 \
  --benchmark_filter='/1920/' >/dev/null
echo "benchmark ran"

if [ "$fuzz_seconds" -gt 0 ]; then
  step "fuzzing, ${fuzz_seconds}s per plug-in"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DEFFECTS_FUZZ=ON -DEFFECTS_TESTS=OFF -DEFFECTS_WERROR=ON >/dev/null
  cmake --build build/fuzz -j"$jobs"
  for fuzzer in build/fuzz/fuzz/*_fuzz; do
    name=$(basename "$fuzzer" _fuzz)
    # New inputs go to a scratch folder; the committed seeds stay as they are.
    scratch=build/fuzz/corpus-$name
    mkdir -p "$scratch"
    "$fuzzer" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
      "$scratch" "fuzz/corpus/$name" 2>build/fuzz/$name.log \
      || { tail -50 build/fuzz/$name.log; echo "fuzzer $name failed"; exit 1; }
    grep -E 'stat::number_of_executed_units' build/fuzz/$name.log | sed "s/^/$name: /"
  done
fi

this_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
for suite in ${EFFECTS_CHROOT_SUITES-trixie}; do
  step "$suite chroot: release suite with its compiler, ffmpeg, MLT and GStreamer"
  if [ "$suite" = "$this_release" ]; then
    echo "this machine runs $suite: the release build above was that"
    continue
  fi
  scripts/chroot-test.sh "$suite" "${EFFECTS_CHROOT_CACHE:-/var/cache/effects-chroots}"
done

step "all passed"
