#!/usr/bin/env bash
# Installs what is missing, builds the host and runs it. Arguments are passed
# to glidemate-host (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >&2
cmake --preset default >/dev/null
cmake --build --preset default --target glidemate-host >&2
exec build/default/host/app/glidemate-host "$@"
