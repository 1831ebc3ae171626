#!/usr/bin/env bash
# Rewrites the README's parameter tables from the built plug-ins (after a
# parameter's name, default or explanation changed, or docs/params/ did).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DEFFECTS_WERROR=ON >/dev/null
cmake --build build/release -j"$(nproc)" --target paramdoc
build/release/tools/paramdoc --write README.md docs/params build/release/plugins/*.so
