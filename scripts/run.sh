#!/usr/bin/env bash
# Installs what is missing, builds the programs, and runs Glidemate: the
# desktop app (glidemate-companion) on an X11 session, else the headless
# host (glidemate-host), which alone posts input on a Wayland session. Arguments are passed to the
# program (try --help); both take --name, --port, --no-advertise and
# --data-dir.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >&2
cmake --preset default >/dev/null
# The command-line phone comes along, to try the host with.
cmake --build --preset default --target glidemate-companion glidemate-host glidemate >&2
if [ "${XDG_SESSION_TYPE:-}" = wayland ] || { [ -n "${WAYLAND_DISPLAY:-}" ] && [ "${XDG_SESSION_TYPE:-}" != x11 ]; }; then
  echo "run: a Wayland session, where only the headless host can post input, so it runs (the desktop app posts through X11)" >&2
elif [ -n "${DISPLAY:-}" ]; then
  exec build/default/host/companion/qt/glidemate-companion "$@"
else
  echo "run: no X display here (DISPLAY is not set), so the headless host runs instead" >&2
fi
exec build/default/host/app/glidemate-host "$@"
