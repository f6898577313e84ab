#!/usr/bin/env bash
# Runs one fuzz target for a while: scripts/fuzz.sh TARGET [SECONDS]
# (60 by default; scripts/fuzz.sh --list names the targets).
#
# Starts from the target's committed corpus (fuzz/corpus/TARGET). New
# inputs that reach new code go to build/fuzz/corpus/TARGET; a crash is
# saved as build/fuzz/crashes/TARGET/crash-... (copy it into
# fuzz/corpus/TARGET once fixed, so that the test command keeps checking it).
set -euo pipefail
cd "$(dirname "$0")/.."

targets() { ls fuzz/corpus; }

if [ $# -lt 1 ] || [ $# -gt 2 ] || [ "$1" = "--help" ] || [ "$1" = "-h" ]; then
  echo "usage: scripts/fuzz.sh TARGET [SECONDS]" >&2
  echo "targets: $(targets | tr '\n' ' ')" >&2
  exit 2
fi
if [ "$1" = "--list" ]; then
  targets
  exit 0
fi
target=$1
seconds=${2:-60}
if [ ! -d "fuzz/corpus/$target" ]; then
  echo "fuzz.sh: no target '$target'; targets: $(targets | tr '\n' ' ')" >&2
  exit 2
fi
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "fuzz.sh: SECONDS must be a positive whole number" >&2
  exit 2
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "$target"
work="build/fuzz/corpus/$target"
crashes="build/fuzz/crashes/$target"
mkdir -p "$work" "$crashes"
exec "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$crashes/" "$work" "fuzz/corpus/$target"
