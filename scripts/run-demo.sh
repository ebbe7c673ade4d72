#!/usr/bin/env bash
# run-demo.sh: the service's main job on the virtual board.
# The service executable does not exist yet: for now this sets the machine up, builds the windows
# build, and runs the lighting core (modes, settings file, thermal thread) under Wine, so a newcomer
# sees what is there.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$OVLED_ROOT"
"$OVLED_ROOT/scripts/setup-deps.sh"
step "Building windows"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(jobs)"
"$OVLED_ROOT/scripts/wine-prefix.sh" build/windows
trap '"$OVLED_ROOT/scripts/wine-prefix.sh" "$OVLED_ROOT/build/windows" --stop' EXIT
step "Running the lighting core under Wine (the service itself is not built yet)"
WINEPREFIX="$OVLED_ROOT/build/windows/wineprefix" ctest --preset windows
