#!/usr/bin/env bash
# Installs what is missing, builds the host and the command-line phone, and
# runs the host. Arguments are passed to glidemate-host (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >&2
cmake --preset default >/dev/null
# The command-line phone comes along, to try the host with.
cmake --build --preset default --target glidemate-host glidemate >&2
exec build/default/host/app/glidemate-host "$@"
