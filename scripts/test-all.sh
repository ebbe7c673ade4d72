#!/usr/bin/env bash
# test-all.sh: sets up a fresh Debian 12 machine, builds every build and runs every test.
#   host       native g++ under ASan+UBSan: the portable core's tests
#   host-tsan  native g++ under ThreadSanitizer: the concurrency tests
#   windows    mingw-w64 x86_64: every test under Wine 8 (private prefix, warm session)
#   demo       the main job: a short scripted show on the virtual board, checked against what the board saw
#   soak       60 s of the service under eight COM clients, power broadcasts and scheduled faults
#   app        the lighting app under Xvfb, driven by the keyboard and checked on the virtual board
#   i686       mingw-w64 i686: built, exports checked (its tests need wine32, which is not installed)
#   installer  the MSI packages (x64, x86): tables checked; x64 installed, upgraded and removed under
#              Wine's msiexec in a private prefix
#   fuzz       clang libFuzzer: each target for a bounded time
# Idempotent: a second run reuses the build trees. Exit status 0 only when everything passed.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$OVLED_ROOT"
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
started=$(date +%s)

"$OVLED_ROOT/scripts/setup-deps.sh"

build() {
  local preset=$1
  step "Building $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(jobs)"
}

build host
step "Testing host (ASan + UBSan)"
ctest --preset host -j "$(jobs)"

build host-tsan
step "Testing host-tsan (ThreadSanitizer, concurrency tests)"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --preset host-tsan

build windows
step "Testing windows (Wine)"
"$OVLED_ROOT/scripts/wine-prefix.sh" build/windows
trap '"$OVLED_ROOT/scripts/wine-prefix.sh" "$OVLED_ROOT/build/windows" --stop' EXIT
WINEPREFIX="$OVLED_ROOT/build/windows/wineprefix" ctest --preset windows -j "$(jobs)"
"$OVLED_ROOT/scripts/wine-prefix.sh" build/windows --stop
trap - EXIT

# With music (PulseAudio and sox come with the setup): the check then asks every device in music for
# the many changing colours that only music gives; without sound it could only ask for music's dark
# colours.
step "The main job on the virtual board: a 16 s show with music, checked"
python3 scripts/demo/demo.py --duration 16 --check

step "The soak-and-fault run: 60 s, checked against its limits"
scripts/soak.sh --seconds 60

step "The lighting app end to end: keyboard, board, service stopped, started, frozen and killed"
python3 tests/app/lighting-app-e2e.py

build windows-i686
step "Checking the exported names (x86_64 and i686)"
scripts/check-exports.sh build/windows build/windows-i686

step "Installer packages (x64, x86)"
scripts/build-msi.sh
step "Installer under Wine's msiexec: install, upgrade, uninstall"
tests/installer/install-upgrade-remove.sh build/msi

build fuzz
step "Fuzzing (${FUZZ_SECONDS} s per target)"
scripts/run-fuzz.sh build/fuzz "$FUZZ_SECONDS"

step "All tests passed in $(( $(date +%s) - started )) s"
