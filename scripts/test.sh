#!/usr/bin/env bash
# Installs what is missing, builds the plain and the sanitizer presets, and
# runs every test in both.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

status=0
for preset in default asan; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset: test"
  ctest --preset "$preset" -j "$(nproc)" || status=1
done
exit "$status"
