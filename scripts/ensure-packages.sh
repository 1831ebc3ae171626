# Sourced by the scripts in this folder. ensure_packages PKG...: installs,
# with apt-get and without recommended extras, whichever of the Debian
# packages are not installed yet. Needs root only when something is missing.
ensure_packages() {
  local missing=()
  local pkg
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
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(cmake make g++ binutils pkg-config frei0r-plugins-dev)
TEST_PACKAGES=(libgtest-dev libbenchmark-dev libtsan2 clang libclang-rt-14-dev ffmpeg melt libgstreamer1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-bad)
