#!/usr/bin/env bash
# soak.sh [--minutes N | --seconds N] [--seed S] [--slow-ms MS]
# The soak-and-fault run (scripts/soak/soak.py): builds what it needs, then runs the service under eight
# COM clients, power broadcasts and scheduled faults in a private Wine prefix (build/soak/) for the
# given time (60 s by default), prints a table of figures and limits, and exits 1 when a limit is broken.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$OVLED_ROOT"
step "Building the windows build (service, client tools, virtual board, soak tool)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(jobs)" --target OvLedService ovledctl boardctl VirtualAcpiServer ovio ovledsoak
exec python3 "$OVLED_ROOT/scripts/soak/soak.py" "$@"
