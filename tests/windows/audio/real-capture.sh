#!/usr/bin/env bash
# real-capture.sh <command...>: runs a real-audio test command against a private PulseAudio.
# Starts the daemon (null sink, its monitor as the default input), plays a 100 Hz tone into the sink for
# as long as the command runs, exports PULSE_SERVER and OVLED_TONE_HZ for the command (Wine passes them
# on to the audio driver), and tears everything down afterwards. Exits 77 (a skip) with a message when
# PulseAudio cannot start here.
set -u
root=$(cd "$(dirname "$0")/../../.." && pwd)
PA_HOME=$(mktemp -d "${TMPDIR:-/tmp}/ovled-pa.XXXXXX")
export PA_HOME
tone_pid=
cleanup() {
  [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null && wait "$tone_pid" 2>/dev/null
  "$root/scripts/pa-stop.sh"
  rm -rf "$PA_HOME"
}
trap cleanup EXIT

if ! started=$("$root/scripts/pa-start.sh" 2>&1); then
  echo "SKIPPED: PulseAudio could not start here, so no real audio can be captured:"
  echo "$started"
  exit 77
fi
export "$(echo "$started" | grep '^PULSE_SERVER=' | tail -1)"
export OVLED_TONE_HZ=100

# A minute of a half-scale 100 Hz sine, 48000 Hz stereo 16-bit, straight into the null sink.
sox -q -n -r 48000 -c 2 -b 16 -e signed-integer -t raw - synth 60 sine "$OVLED_TONE_HZ" vol 0.5 |
  paplay --raw --rate=48000 --channels=2 --format=s16le --latency-msec=10 -d vsink &
tone_pid=$!

"$@"
