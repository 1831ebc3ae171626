# shellcheck shell=bash
# Sourced first by every script in this folder:
#
#   . "$(dirname "$0")/common.sh"
#
# Stops the script at the first failing command, unset variable or failing
# part of a pipe, and moves it to the source tree's root, EFFECTS_ROOT (the
# folder it was started in stays in EFFECTS_CALLER_DIR). It then has
#
#   EFFECTS_PLUGIN_NAMES   the plug-ins' file names, from plugins.txt (each
#                          one's folder and CMake target: its name in lower
#                          case, "${EFFECTS_PLUGIN_NAMES[@],,}")
#   is_our_plugin FILE     whether FILE is NAME.so of one of those
#   jobs                   parallel jobs for builds and tests: the processors
#   need_packages ARG...   installs, as root, what is missing of the Debian
#                          packages named, where an argument in capitals is a
#                          group of ensure-packages.sh (BUILD, TEST, CROSS,
#                          WINDOWS, EMULATION, MACOS, SUITE, CHROOT: need_packages
#                          BUILD ffmpeg). The groups named by this
#                          release's versions (TEST, MACOS) are read from its
#                          package lists only when asked for: a script that
#                          installs nothing reads no list.
set -euo pipefail
# shellcheck disable=SC2034  # for the scripts that source this
EFFECTS_CALLER_DIR=$PWD
EFFECTS_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$EFFECTS_ROOT"
mapfile -t EFFECTS_PLUGIN_NAMES < <(grep -v -e '^#' -e '^$' plugins.txt)
# shellcheck disable=SC2034
jobs=$(nproc)

is_our_plugin() {
  local name
  for name in "${EFFECTS_PLUGIN_NAMES[@]}"; do
    [ "$1" = "$name.so" ] && return 0
  done
  return 1
}

need_packages() {
  # shellcheck source=scripts/ensure-packages.sh
  [ -n "${BUILD_PACKAGES+set}" ] || . "$EFFECTS_ROOT/scripts/ensure-packages.sh"
  local arg group packages=()
  for arg in "$@"; do
    case "$arg" in
      *[a-z]*) packages+=("$arg") ;;
      *)
        if declare -F "load_${arg}_PACKAGES" >/dev/null && ! declare -p "${arg}_PACKAGES" &>/dev/null
        then
          "load_${arg}_PACKAGES"
        fi
        declare -p "${arg}_PACKAGES" &>/dev/null \
          || { echo "no package group $arg in ensure-packages.sh" >&2; return 1; }
        group="${arg}_PACKAGES[@]"
        packages+=("${!group}")
        ;;
    esac
  done
  ensure_packages "${packages[@]}"
}
