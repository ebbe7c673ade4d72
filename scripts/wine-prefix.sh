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

# Runs one step of the preparation; when it fails, says which, with its exit status and its output. The
# output goes to a file, not a pipe: the session's services inherit it and outlive this script.
step_log=$(mktemp)
trap 'rm -f "$step_log"' EXIT
prepare() { # prepare <what> <command>...
  local what=$1 status=0; shift
  "$@" >"$step_log" 2>&1 </dev/null || status=$?
  if [ $status -ne 0 ]; then
    sed 's/^/    | /' "$step_log" >&2
    fail "$what: '$*' ended with exit status $status (its output is above)"
  fi
}

if [ ! -f "$WINEPREFIX/.ovled-ready" ]; then
  info "creating the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  prepare "creating the Wine prefix" wineboot -i
  prepare "choosing the null graphics driver" wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
  wineserver -k 2>/dev/null || true
  touch "$WINEPREFIX/.ovled-ready"
fi
info "warming the Wine session"
# A server that already runs for the prefix (a session left warm) makes this end with 2: it is said, and
# the session's answer below decides.
status=0
wineserver -p >"$step_log" 2>&1 </dev/null || status=$?
[ $status -eq 0 ] ||
  info "wineserver -p ended with exit status $status (a session may be running already) $(tr '\n' ' ' <"$step_log")"
prepare "warming the Wine session" wine cmd /c exit
