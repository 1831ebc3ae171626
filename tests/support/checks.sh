# The frame the shell tests share, sourced after `set -euo pipefail`:
#
#   work             a scratch folder, removed on exit
#   check WHAT CMD…  runs CMD; if it fails, says "FAILED: WHAT" and goes on
#   checks_done      prints how many passed and failed; fails if any did
#
# A test keeps its own list of plug-ins: one that read the list it checks
# could not notice a plug-in missing from it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
checks=0
check() {  # WHAT COMMAND...
  local what=$1
  shift
  checks=$((checks + 1))
  if ! "$@"; then
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
checks_done() {
  echo "$((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
