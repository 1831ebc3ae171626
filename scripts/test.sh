#!/usr/bin/env bash
# Configures, builds and runs the whole suite, stage by stage, each by its
# CMake presets (CMakePresets.json; the build folder build/PRESET): the
# optimised build with warnings as errors, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the concurrency test under
# ThreadSanitizer, the unit suites with the AVX-512 code on an emulation of
# AVX-512, the unit suites of an aarch64 cross build under qemu; the Windows
# DLLs' unit suites and installer under Wine; the macOS build, its checks,
# and its machine code's unit suites through the test host's Mach-O loader
# (x86_64 natively, arm64 under qemu); a few iterations of the benchmark, a
# short libFuzzer run per plug-in, then the release suite once more in a
# Debian 13 chroot, with its compiler and its ffmpeg, MLT and GStreamer.
# Installs the missing Debian packages of the stages it runs first.
#
#   scripts/test.sh               every stage, in this order (what CI runs)
#   scripts/test.sh STAGE...      those stages only, e.g. scripts/test.sh sanitize
#   scripts/test.sh --list        the stages
#
#   FUZZ_SECONDS           seconds per fuzzer (default 60; 0 skips fuzzing)
#   EFFECTS_CHROOT_SUITES  the Debian releases whose chroots run the release
#                          suite (default trixie; "trixie sid" adds sid; the
#                          release this machine runs is left out)
#   EFFECTS_CHROOT_CACHE   where those chroots are kept between runs
#                          (default /var/cache/effects-chroots)
. "$(dirname "$0")/common.sh"

# NAME|PACKAGE GROUPS|WHAT IT RUNS, in the order of a whole run.
stages=(
  "release|BUILD TEST|release build"
  "sanitize|BUILD TEST|sanitizer build"
  "tsan|BUILD TEST|ThreadSanitizer build: the plug-ins and the concurrency test"
  "avx512-emulated|BUILD TEST EMULATION|AVX-512 code under an emulation of AVX-512: unit suites"
  "aarch64|BUILD CROSS|aarch64 cross build, unit suites under qemu-aarch64"
  "windows|BUILD WINDOWS|Windows cross build: unit suites, ZIP and installer under Wine"
  "macos|BUILD CROSS MACOS|macOS cross build: checks, and unit suites through the Mach-O loader"
  "bench|BUILD TEST|benchmark smoke run"
  "fuzz|BUILD TEST|fuzzing, each plug-in for FUZZ_SECONDS"
  "chroot||release suite in chroots of other Debian releases, with their compiler, ffmpeg, MLT and GStreamer"
)

step() { printf '\n=== %s\n' "$*"; }

# preset NAME: configures, builds and runs the tests by the presets NAME.
preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j"$jobs"
  ctest --preset "$1" -j"$jobs"
}

stage_release() { preset release; }
stage_sanitize() { preset sanitize; }
# Only the plug-ins and the concurrency test are built (the build preset's
# targets).
stage_tsan() { preset tsan; }

# The emulation is built on AVX2 and FMA.
stage_avx512_emulated() {
  if ! grep -qw avx2 /proc/cpuinfo || ! grep -qw fma /proc/cpuinfo; then
    echo "this processor has no AVX2 with FMA: the AVX-512 emulation cannot run here (skipped)"
    return 0
  fi
  preset avx512-emulated
}

stage_aarch64() { preset aarch64; }

# In a subshell: Wine's server lives as long as the stage.
stage_windows() (
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j"$jobs"
  # The build folder's own Wine prefix, as its wine-run.sh uses it.
  mkdir -p build/windows/wine
  WINEPREFIX=$PWD/build/windows/wine
  export WINEPREFIX
  # One Wine server for the whole run, and Wine's own services started
  # before ctest: a service that a test's Wine process started would inherit
  # that test's output pipe and keep ctest waiting for it. Debian 12's and
  # 13's packages keep it in /usr/lib/wine/, sid's in the multiarch folder.
  wineserver=/usr/lib/wine/wineserver64
  [ -x "$wineserver" ] || wineserver=/usr/lib/x86_64-linux-gnu/wine/wineserver
  "$wineserver" -p 2>/dev/null || true  # already running for this prefix
  trap '"$wineserver" -k 2>/dev/null || true' EXIT
  build/windows/wine-run.sh wineboot -u </dev/null >/dev/null 2>&1
  ctest --preset windows -j"$jobs"
)

stage_macos() { scripts/macos-test.sh; }

# The release build's benchmark, built first where the release stage has not.
stage_bench() {
  [ -e build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
  cmake --build --preset bench -j"$jobs"
  build/release/bench/effects_bench --benchmark_min_time=0.01 \
    --benchmark_filter='/1920/' >/dev/null
  echo "benchmark ran"
}

stage_fuzz() {
  local seconds=${FUZZ_SECONDS:-60} name scratch log
  if [ "$seconds" -eq 0 ]; then
    echo "FUZZ_SECONDS=0: no fuzzing"
    return 0
  fi
  echo "${seconds}s per plug-in"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j"$jobs"
  for name in "${EFFECTS_PLUGIN_NAMES[@],,}"; do
    # New inputs go to a scratch folder; the committed seeds stay as they are.
    scratch=build/fuzz/corpus-$name
    log=build/fuzz/$name.log
    mkdir -p "$scratch"
    "build/fuzz/fuzz/${name}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
      "$scratch" "fuzz/corpus/$name" 2>"$log" \
      || { tail -50 "$log"; echo "fuzzer $name failed"; exit 1; }
    grep -E 'stat::number_of_executed_units' "$log" | sed "s/^/$name: /"
  done
}

stage_chroot() {
  local this_release suite
  this_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  for suite in ${EFFECTS_CHROOT_SUITES-trixie}; do
    printf -- '--- %s\n' "$suite"
    if [ "$suite" = "$this_release" ]; then
      echo "this machine runs $suite: the release build above was that"
      continue
    fi
    scripts/chroot-test.sh "$suite" "${EFFECTS_CHROOT_CACHE:-/var/cache/effects-chroots}"
  done
}

list() {
  local entry name what
  for entry in "${stages[@]}"; do
    IFS='|' read -r name _ what <<<"$entry"
    printf '%-16s %s\n' "$name" "$what"
  done
}

case "${1:-}" in
  --list) list; exit 0 ;;
  -h|--help) sed -n '2,/^[^#]/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
esac
# The stages asked for, in the order given; none: all.
selected=()
for name in "$@"; do
  found=
  for entry in "${stages[@]}"; do
    [ "${entry%%|*}" = "$name" ] && found=$entry
  done
  [ -n "$found" ] || { echo "no stage $name (scripts/test.sh --list)" >&2; exit 2; }
  selected+=("$found")
done
[ ${#selected[@]} -gt 0 ] || selected=("${stages[@]}")

# Every package the run needs, in one go.
groups=()
for entry in "${selected[@]}"; do
  IFS='|' read -r _ needs _ <<<"$entry"
  for group in $needs; do
    [[ " ${groups[*]} " == *" $group "* ]] || groups+=("$group")
  done
done
[ ${#groups[@]} -eq 0 ] || need_packages "${groups[@]}"

for entry in "${selected[@]}"; do
  IFS='|' read -r name _ what <<<"$entry"
  step "$what"
  start=$SECONDS
  "stage_${name//-/_}"
  echo "($name: $((SECONDS - start)) s)"
done

step "all passed"
