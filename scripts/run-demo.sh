#!/usr/bin/env bash
# run-demo.sh [--duration S] [--profile NAME] [--no-audio] [--keep-running] [--stop] [--check]
# The service's main job on the virtual board: installs what is missing, builds the windows build,
# and runs a scripted show of about a minute (scripts/demo/demo.py): the service in a private Wine
# prefix drives the virtual board's LEDs in thermal and music mode while the terminal shows them live;
# a timeline picture and the measured figures come at the end. Ctrl-C stops everything cleanly.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$OVLED_ROOT"

if [ "${1:-}" != "--stop" ]; then
  "$OVLED_ROOT/scripts/setup-deps.sh"
  step "Building the windows build (service, client tool, virtual board)"
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$(jobs)" --target OvLedService ovledctl boardctl VirtualAcpiServer ovio
fi
exec python3 "$OVLED_ROOT/scripts/demo/demo.py" "$@"
