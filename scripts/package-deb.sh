#!/usr/bin/env bash
# Builds the Debian package (build/package/glidemate_VERSION_ARCH.deb):
# the optimised build of the default preset (so ccache serves it),
# installed under /usr and stripped, without tests or benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >&2
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DGLIDEMATE_BUILD_TESTS=OFF -DGLIDEMATE_BUILD_BENCH=OFF >/dev/null
cmake --build build/package
(cd build/package && cpack -G DEB)
ls build/package/*.deb
