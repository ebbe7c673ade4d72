#!/usr/bin/env bash
# build-msi.sh [--version X.Y.Z[.W]] [--out DIR] [x64] [x86]
# Builds the installer packages with wixl from installer/OvLedService.wxs: OvLedService-x64.msi from the
# windows build, OvLedService-x86.msi from the windows-i686 build (both when no platform is named),
# into build/msi (or DIR). Builds what the packages need first: the three executables of each build (the
# service, ovledctl and the lighting app) and the host tool that writes the package's registration
# (ovled-wix-registration, host build).
# The package's version is the build's (the project's version, also in the executables' version
# resource); --version overrides it for the package alone, which is how tests make a "newer" package
# from the same binaries. Any warning from wixl fails the build: wixl drops what it does not know.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$OVLED_ROOT"

version_override="" out_dir="$OVLED_ROOT/build/msi" platforms=()
while [ $# -gt 0 ]; do
  case $1 in
    --version) version_override=${2:?--version needs a value}; shift 2 ;;
    --out) out_dir=${2:?--out needs a folder}; shift 2 ;;
    x64|x86) platforms+=("$1"); shift ;;
    *) fail "usage: build-msi.sh [--version X.Y.Z[.W]] [--out DIR] [x64] [x86]" ;;
  esac
done
[ ${#platforms[@]} -gt 0 ] || platforms=(x64 x86)
mkdir -p "$out_dir"
out_dir=$(cd "$out_dir" && pwd)

for tool in wixl msibuild msiinfo; do
  command -v "$tool" >/dev/null || fail "$tool is missing (Debian packages wixl and msitools: scripts/setup-deps.sh)"
done

# Configures a preset's build tree when it has none, then builds the named targets.
build_targets() {
  local preset=$1; shift
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target "$@" -j "$(jobs)"
}

step "Building the registration writer (host)"
build_targets host ovled-wix-registration
generator="$OVLED_ROOT/build/host/installer/ovled-wix-registration"

# The rollback steps of the package (wixl writes every CustomAction with Execute="deferred" as a plain
# deferred one) and their type once marked: an executable from the File table (18), continuing on
# failure (64), rollback (256), in the script (1024), without impersonation (2048).
rollback_actions=(RegisterTypeLibraryRollback UnregisterTypeLibraryRollback)
rollback_type=3410
deferred_ignore_type=3154

# The first version that this package must not replace: the next build number (Windows Installer
# compares major.minor.build), so the same version installed from another build is replaced too.
upgrade_below() {
  local major minor build
  IFS=. read -r major minor build _ <<<"$1"
  [[ $major =~ ^[0-9]+$ && $minor =~ ^[0-9]+$ && $build =~ ^[0-9]+$ ]] || fail "not a version: $1"
  echo "$major.$minor.$((build + 1))"
}

package() {
  local platform=$1 preset arch
  local triplet
  case $platform in
    x64) preset=windows arch=x64 triplet=x86_64-w64-mingw32 ;;
    x86) preset=windows-i686 arch=x86 triplet=i686-w64-mingw32 ;;
  esac
  step "Building OvLedService-$platform.msi"
  build_targets "$preset" OvLedService ovledctl OvLedLighting
  local version_header="build/$preset/resources/ovled_version.h" version
  version=$(sed -n 's/^#define OVLED_VERSION_TEXT "\(.*\)"$/\1/p' "$version_header")
  [ -n "$version" ] || fail "no version in $version_header"
  [ -z "$version_override" ] || version=$version_override

  local work="$out_dir/$platform" msi="$out_dir/OvLedService-$platform.msi" log
  mkdir -p "$work/files"
  "$generator" "$work"
  rm -f "$msi"
  # The package carries the programs without symbols and debug information (a tenth of their size);
  # the build tree keeps the full ones, to read a crash's stack against.
  local program
  for program in OvLedService.exe ovledctl.exe OvLedLighting.exe; do
    "$triplet-strip" -o "$work/files/$program" "build/$preset/bin/$program"
  done
  # wixl looks for the File sources in its working folder.
  log=$(cd "$work/files" && wixl -a "$arch" -D Platform="$platform" -D Version="$version" \
          -D UpgradeBelow="$(upgrade_below "$version")" -I "$work" -o "$msi" \
          "$OVLED_ROOT/installer/OvLedService.wxs" 2>&1) || { printf '%s\n' "$log" >&2; rm -f "$msi"; fail "wixl failed"; }
  if [ -n "$log" ]; then
    printf '%s\n' "$log" >&2
    rm -f "$msi"
    fail "wixl reported problems: the package would not be what installer/OvLedService.wxs says"
  fi

  # The tables wixl cannot write (the folder's ACL, the service's recovery), and the standard action that
  # applies the recovery, between InstallServices and StartServices.
  local statement
  while IFS= read -r statement; do
    [ -z "$statement" ] || msibuild "$msi" -q "$statement" || { rm -f "$msi"; fail "msibuild: $statement"; }
  done <"$work/Tables.sql"
  msibuild "$msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('MsiConfigureServices', 5850)" ||
    { rm -f "$msi"; fail "msibuild: MsiConfigureServices"; }

  local action type
  for action in "${rollback_actions[@]}"; do
    type=$(msiinfo export "$msi" CustomAction | awk -F'\t' -v a="$action" '$1 == a { print $2 }')
    [ "$type" = "$deferred_ignore_type" ] || { rm -f "$msi"; fail "$action: type '$type', not a deferred step that continues on failure"; }
    msibuild "$msi" -q "UPDATE CustomAction SET Type = $rollback_type WHERE Action = '$action'"
  done
  info "$msi (version $version)"
}

for platform in "${platforms[@]}"; do
  package "$platform"
done
