#!/usr/bin/env bash
# The build configurations and the scripts that use them:
# - this machine's CMake and CTest read CMakePresets.json (a schema newer
#   than the oldest CMake we support is refused here, not in CI's
#   fifth stage);
# - every preset a script names exists, of the kind it is used as
#   (configure, build or test);
# - scripts/test.sh refuses a stage it does not have before anything runs;
# - the scripts' plug-in list (plugins.txt, through scripts/common.sh) names
#   exactly the plug-ins this build made.
#
#   presets_test.sh SOURCE_DIR PLUGIN_DIR
set -euo pipefail
cd "$1"
plugin_dir=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

names() { sed -n 's/^  "\(.*\)".*/\1/p'; }
# shellcheck disable=SC2034  # read through need's ${!1}
configure=$(cmake --list-presets | names) || { echo "FAIL: cmake cannot read the presets"; exit 1; }
build=$(cmake --build --list-presets | names) || { echo "FAIL: cmake --build cannot read them"; exit 1; }
test=$(ctest --list-presets | names) || { echo "FAIL: ctest cannot read them"; exit 1; }
need() {  # KIND NAME WHERE
  grep -qx -- "$2" <<<"${!1}" || fail "$3: no $1 preset $2"
}

# Literal names, then the names scripts make from their arguments.
while IFS=: read -r file line text; do
  for kind in configure build test; do
    case "$kind:$text" in
      configure:*"cmake --preset "*) re='cmake --preset "\{0,1\}\([a-z0-9_-]*\)' ;;
      build:*"cmake --build --preset "*) re='cmake --build --preset "\{0,1\}\([a-z0-9_-]*\)' ;;
      test:*"ctest --preset "*) re='ctest --preset "\{0,1\}\([a-z0-9_-]*\)' ;;
      *) continue ;;
    esac
    # A name followed by a variable is made at run time: left to the loops below.
    name=$(sed -n "s/.*${re}[^\$a-z0-9_-].*/\1/p" <<<"$text ")
    [ -z "$name" ] || need "$kind" "$name" "$file:$line"
  done
done < <(grep -n -e '--preset ' scripts/*.sh)
while read -r name; do
  for kind in configure build test; do need "$kind" "$name" "scripts/test.sh: preset $name"; done
done < <(sed -n '/^ *#/d; s/.*[{ ]preset \([a-z0-9-]\{1,\}\)\(;.*\)\{0,1\}$/\1/p' scripts/test.sh)
for arch in $(sed -n 's/^for arch in \(.*\); do$/\1/p' scripts/macos-build.sh); do
  for kind in configure build; do need "$kind" "macos-$arch" scripts/macos-build.sh; done
done
while read -r arch variant; do
  for kind in configure build; do need "$kind" "macos-$arch-$variant" scripts/macos-test.sh; done
done < <(sed -n 's/^variant \([a-z0-9_]*\) \([a-z0-9]*\)$/\1 \2/p' scripts/macos-test.sh)
while read -r arch; do
  for kind in configure build test; do need "$kind" "macos-loader-$arch" scripts/macos-test.sh; done
done < <(sed -n 's/^loader_suites \([a-z0-9_]*\)$/\1/p' scripts/macos-test.sh)

status=0
# Bounded: were the refusal broken, this would start the whole run.
out=$(timeout 60 scripts/test.sh no-such-stage 2>/dev/null) || status=$?
if [ "$status" -ne 2 ] || [ -n "$out" ]; then
  fail "an unknown stage: status $status, output '$out'"
fi
[ "$(scripts/test.sh --list | cut -d' ' -f1 | head -n 1)" = release ] \
  || fail "scripts/test.sh --list does not begin with the release stage"

listed=$(bash -c '. scripts/common.sh && printf "%s.so\n" "${EFFECTS_PLUGIN_NAMES[@]}"' | sort)
built=$(cd "$plugin_dir" && ls -- *.so | sort)
[ "$listed" = "$built" ] || fail "plugins.txt lists" $listed", the build made" $built

[ "$failures" -eq 0 ] || exit 1
echo "presets and scripts agree"
