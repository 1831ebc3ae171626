# The Debian packages the scripts need, in groups (NAME_PACKAGES below),
# read by need_packages (common.sh) when a script first asks for one.
# ensure_packages PKG...: installs, with apt-get and without recommended
# extras, whichever of the Debian packages are not installed yet. Needs root
# only when something is missing. A package named PKG:ARCH of a foreign
# architecture (libgtest-dev:arm64) first adds that architecture to dpkg.
ensure_packages() {
  local missing=()
  local pkg arch
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
      || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    return 1
  fi
  echo "installing: ${missing[*]}"
  for pkg in "${missing[@]}"; do
    case "$pkg" in
      *:*)
        arch=${pkg##*:}
        [ "$arch" = "$(dpkg --print-architecture)" ] \
          || dpkg --print-foreign-architectures | grep -qx "$arch" \
          || dpkg --add-architecture "$arch"
        ;;
    esac
  done
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# dependency_version PKG PREFIX: the NN of the first dependency of PKG named
# PREFIX-NN in this release's package lists (g++ -> 12 on Debian 12, 14 on
# Debian 13). Names that carry a version are read, never guessed.
dependency_version() {
  apt-cache show "$1" 2>/dev/null | sed -n 's/^Depends: //p' | tr ',|' '\n\n' \
    | sed -n "s/^ *$2-\([0-9][0-9]*\)\( .*\)\{0,1\}$/\1/p" | head -n 1
}

# dependency_named PKG PATTERN: the first dependency of PKG matching the
# extended regular expression PATTERN (libgcc-14-dev -> libtsan2).
dependency_named() {
  apt-cache show "$1" 2>/dev/null | sed -n 's/^Depends: //p' | tr ',|' '\n\n' \
    | sed 's/^ *//; s/ .*//' | grep -E -x -m 1 "$2"
}

# The versioned names this release has: ThreadSanitizer's runtime that its
# g++ uses and the compiler runtime (libFuzzer, sanitizers) of its clang.
# The package lists must be current for that (apt-get update once if the
# release's lists are missing).
versioned_test_packages() {
  if ! apt-cache show g++ clang >/dev/null 2>&1; then
    [ "$(id -u)" -eq 0 ] && apt-get update -qq
  fi
  local gcc clang tsan
  gcc=$(dependency_version g++ g++)
  clang=$(dependency_version clang clang)
  tsan=$(dependency_named "libgcc-$gcc-dev" 'libtsan[0-9]+')
  if [ -z "$gcc" ] || [ -z "$clang" ] || [ -z "$tsan" ]; then
    echo "cannot tell this release's g++ (${gcc:-?}), clang (${clang:-?}) or" \
      "ThreadSanitizer runtime (${tsan:-?}) from its package lists" >&2
    return 1
  fi
  echo "$tsan" clang "libclang-rt-$clang-dev"
}

BUILD_PACKAGES=(cmake make g++ binutils pkg-config frei0r-plugins-dev)
# What the release suite and its real hosts need. libmpfr-dev: the true
# values that Orrelind's vector functions are held to.
SUITE_PACKAGES=(python3 libgtest-dev libbenchmark-dev ffmpeg melt imagemagick
  libgstreamer1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad
  libmpfr-dev)
# Without those names (said why above) the rest is still installed and the
# scripts that need no test packages run on. Read from the package lists
# only when a script asks for the group (need_packages calls
# load_TEST_PACKAGES), as MACOS_PACKAGES below.
load_TEST_PACKAGES() {
  # shellcheck disable=SC2207
  TEST_PACKAGES=("${SUITE_PACKAGES[@]}" $(versioned_test_packages || true))
}
# The aarch64 cross build and the emulator its unit suites run under.
CROSS_PACKAGES=(g++-aarch64-linux-gnu qemu-user libgtest-dev:arm64 libmpfr-dev:arm64)
# The Windows cross build (GoogleTest from its sources), Wine to run its
# tests, and NSIS for the installer.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest wine64 nsis python3)
# The emulation of AVX-512 that the AVX-512 adapters' tests run on where the
# processor has none.
EMULATION_PACKAGES=(libsimde-dev)
# The macOS cross build: this release's LLVM (its llvm package's version:
# 14 on Debian 12, 19 on 13) for the linker and lipo, zip and unzip for the
# package. The scripts call its tools by that version.
load_MACOS_PACKAGES() {
  EFFECTS_LLVM_VERSION=$(dependency_version llvm llvm || true)
  export EFFECTS_LLVM_VERSION
  MACOS_PACKAGES=(lld-"$EFFECTS_LLVM_VERSION" llvm-"$EFFECTS_LLVM_VERSION" python3 zip unzip)
  # Without the lists the release's own default LLVM, whose version the
  # scripts then cannot name: they say so where they need it.
  [ -n "$EFFECTS_LLVM_VERSION" ] || MACOS_PACKAGES=(lld llvm python3 zip unzip)
}
# What scripts/chroot-test.sh needs on this machine to make a chroot of
# another Debian release and its placeholder package.
CHROOT_PACKAGES=(debootstrap equivs git)
