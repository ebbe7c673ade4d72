#!/usr/bin/env bash
# run-fuzz.sh <fuzz-build-dir> <seconds>
# Runs every fuzz target of the build for that long, starting from its seeds in fuzz/corpus/<name>/.
# New inputs go to a scratch corpus (the repository's seeds are never written); a crash input is kept
# in <fuzz-build-dir>/fuzz-artifacts/. Exit status 0 only when no target found a fault.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build_dir=$(cd "${1:?usage: run-fuzz.sh <fuzz-build-dir> <seconds>}" && pwd)
seconds=${2:?usage: run-fuzz.sh <fuzz-build-dir> <seconds>}

targets=("$build_dir"/fuzz/fuzz_*)
[ -x "${targets[0]}" ] || fail "no fuzz targets in $build_dir/fuzz"
artifacts="$build_dir/fuzz-artifacts"
mkdir -p "$artifacts"
for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  seeds="$OVLED_ROOT/fuzz/corpus/${name#fuzz_}"
  scratch=$(mktemp -d)
  info "$name: ${seconds} s"
  # Inputs up to 8 KiB, or twice the largest seed: a deep seed needs room to grow deeper.
  max_len=8192
  if [ -d "$seeds" ]; then
    largest=$(find "$seeds" -type f -printf '%s\n' | sort -n | tail -n 1)
    [ $((2 * ${largest:-0})) -gt $max_len ] && max_len=$((2 * largest))
  fi
  args=(-max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$artifacts/$name-")
  # A dictionary of the markup that matters to the target (fuzz/<name>.dict), when there is one.
  dictionary="$OVLED_ROOT/fuzz/${name#fuzz_}.dict"
  [ -f "$dictionary" ] && args+=(-dict="$dictionary")
  args+=("$scratch")
  [ -d "$seeds" ] && args+=("$seeds")
  if ! "$target" "${args[@]}" >"$scratch.log" 2>&1; then
    tail -n 40 "$scratch.log"
    rm -rf "$scratch" "$scratch.log"
    fail "$name found a fault (input kept in $artifacts)"
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added)' "$scratch.log" | sed 's/^/    /' || true
  rm -rf "$scratch" "$scratch.log"
done
info "fuzzing found no fault"
