#!/usr/bin/env bash
# wine-prefix.sh <build-dir> [--stop]
# Prepares the private Wine prefix of a windows build tree and leaves a warm session running:
# boots the prefix once, selects the null graphics driver (hidden windows need a driver), then starts
# the wineserver and the session's services BEFORE any test runs, so that no test's output pipe is
# inherited by services.exe (ctest would wait on it forever). --stop ends the session of that prefix.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build_dir=$(cd "${1:?usage: wine-prefix.sh <build-dir> [--stop]}" && pwd)
wine_env "$build_dir"

if [ "${2:-}" = "--stop" ]; then
  wineserver -k 2>/dev/null || true
  exit 0
fi

if [ ! -f "$WINEPREFIX/.ovled-ready" ]; then
  info "creating the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -k 2>/dev/null || true
  touch "$WINEPREFIX/.ovled-ready"
fi
info "warming the Wine session"
wineserver -p
wine cmd /c exit >/dev/null 2>&1 </dev/null
