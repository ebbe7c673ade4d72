#!/usr/bin/env bash
# check-exports.sh <x86_64-build-dir> <i686-build-dir>
# Every executable that carries the ACPI bridge's exports (the build lists them in acpi-exports/) must
# export the eight standard-call names; each build must have at least one such executable.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

names=(_AcpiInit@0 _AcpiGetItem@8 _AcpiGetItemEx@12 _AcpiSetItem@12 _AcpiSetItemBuffer@16 _AcpiMbif@8
       _AcpiGGrp@12 _AcpiCallMethod@12)

check_build() {
  local build_dir=$1 objdump=$2 count=0 listing exe table name
  [ -d "$build_dir/acpi-exports" ] || fail "$build_dir: no acpi-exports/ listing (not a windows build?)"
  for listing in "$build_dir"/acpi-exports/*.path; do
    [ -e "$listing" ] || continue
    exe=$(tr -d '\r\n' <"$listing")
    [ -f "$exe" ] || fail "$exe is listed but was not built"
    table=$("$objdump" -p "$exe" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
    for name in "${names[@]}"; do
      grep -qE "\] ${name}\$" <<<"$table" || fail "$exe does not export $name"
    done
    info "$(basename "$exe") ($(basename "$build_dir")): all ${#names[@]} exports present"
    count=$((count + 1))
  done
  [ "$count" -gt 0 ] || fail "$build_dir: no executable carries the exports"
}

usage="usage: check-exports.sh <x86_64-build-dir> <i686-build-dir>"
check_build "$(cd "${1:?$usage}" && pwd)" x86_64-w64-mingw32-objdump
check_build "$(cd "${2:?$usage}" && pwd)" i686-w64-mingw32-objdump
