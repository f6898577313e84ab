#!/usr/bin/env bash
# Installs what is missing, builds the programs, and runs Glidemate: the
# desktop app (glidemate-companion) where there is an X display for its
# windows (an X11 session, or XWayland on a Wayland one), else the headless
# host (glidemate-host). Both post input the same way, chosen from the
# session. Arguments are passed to the program (try --help); both take
# --name, --port, --no-advertise and --data-dir.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >&2
cmake --preset default >/dev/null
# The command-line phone comes along, to try the host with.
cmake --build --preset default --target glidemate-companion glidemate-host glidemate >&2
if [ -n "${DISPLAY:-}" ]; then
  exec build/default/host/companion/qt/glidemate-companion "$@"
fi
echo "run: no X display for the desktop app's windows (DISPLAY is not set), so the headless host runs instead" >&2
exec build/default/host/app/glidemate-host "$@"
