# Shared helpers of the project's scripts (sourced, not run).
# shellcheck shell=bash
OVLED_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export OVLED_ROOT

step() { printf '\n\033[1m==> %s\033[0m\n' "$*"; }
info() { printf '    %s\n' "$*"; }
fail() { printf '\033[31mERROR:\033[0m %s\n' "$*" >&2; exit 1; }

# Runs a command as root (directly when we are root, else through sudo).
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Jobs for builds: the machine's cores (2 on the reference machines).
jobs() { nproc 2>/dev/null || echo 2; }

# The Wine environment of one build tree: a private prefix inside it, quiet, no display.
wine_env() {
  local build_dir=$1
  export WINEPREFIX="$build_dir/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
}
