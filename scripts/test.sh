#!/usr/bin/env bash
# Installs what is missing, builds the plain and the sanitizer presets, and
# runs every test in both; then builds the fuzz targets and runs each once
# over its committed corpus.
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
echo "== fuzz: build the targets and run each over its corpus"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz -j "$(nproc)" || status=1
exit "$status"
