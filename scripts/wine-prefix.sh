#!/usr/bin/env bash
# wine-prefix.sh <build-dir> [--stop | --display]
# Prepares the private Wine prefix of a windows build tree and leaves a warm session running:
# boots the prefix once, selects the null graphics driver (hidden windows need a driver), then starts
# the wineserver and the session's services BEFORE any test runs, so that no test's output pipe is
# inherited by services.exe (ctest would wait on it forever). --stop ends the session of that prefix.
# --display is for a prefix whose windows are seen (the lighting app under Xvfb): the X11 driver on
# $DISPLAY, and one virtual desktop for every program of the session, so they all see each other's
# windows and the desktop's taskbar shows the notification icons.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build_dir=$(cd "${1:?usage: wine-prefix.sh <build-dir> [--stop | --display]}" && pwd)
display=${DISPLAY:-}
wine_env "$build_dir"
if [ "${2:-}" = "--display" ]; then
  [ -n "$display" ] || fail "--display needs DISPLAY (an X server, such as Xvfb)"
  export DISPLAY=$display
fi

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
  if [ "${2:-}" = "--display" ]; then
    prepare "choosing a virtual desktop" wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
    prepare "sizing the virtual desktop" wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f
  else
    prepare "choosing the null graphics driver" wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
  fi
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
# The session's services (services.exe, and every service it starts) write to what this step's output
# is for as long as they live: a file of the build tree, kept, so that what a dying service prints can be
# read afterwards. Each warm session starts it afresh.
services_log="$build_dir/services.log"
status=0
wine cmd /c exit >"$services_log" 2>&1 </dev/null || status=$?
if [ $status -ne 0 ]; then
  sed 's/^/    | /' "$services_log" >&2
  fail "warming the Wine session: 'wine cmd /c exit' ended with exit status $status (its output is above)"
fi
