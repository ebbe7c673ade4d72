#!/usr/bin/env bash
# pa-start.sh: starts a private, headless PulseAudio daemon with a null sink "vsink" as the default
# output and its monitor as the default input, so that what is played into the sink can be captured
# back (under Wine the monitor is the capture endpoint that the loopback capture falls back to).
# Everything lives under $PA_HOME (runtime folder, home, logs); nothing system-wide is touched. Root is
# fine. Prints "PULSE_SERVER=..." on success, which Wine and pactl/paplay must see to reach the daemon.
# Exits non-zero when the daemon does not come up. Stop it with pa-stop.sh and the same PA_HOME.
# `pa-start.sh --keepalive` only (re)starts the keep-alive recorder (below) of a running daemon: it
# ends with the null sink, so whoever unloads and loads the sink again starts it again.
set -eu
: "${PA_HOME:?PA_HOME must name a private folder}"
export XDG_RUNTIME_DIR=$PA_HOME/runtime HOME=$PA_HOME/home
mkdir -p "$XDG_RUNTIME_DIR" "$HOME" "$PA_HOME/logs"
chmod 700 "$XDG_RUNTIME_DIR"
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >&2; exit 1; }

# Keep-alive: a 10 ms recorder on the monitor forces the null sink to low latency. Without it the null
# sink runs 2 s blocks and a capture's first packet arrives 0.2-2 s late.
start_keepalive() {
  parec --latency-msec=10 -d vsink.monitor >/dev/null 2>>"$PA_HOME/logs/keepalive.err" &
  echo $! >"$XDG_RUNTIME_DIR/keepalive.pid"
  for _ in $(seq 1 60); do
    lat=$(pactl list sinks | sed -n 's/^\s*Latency: \([0-9]*\) usec.*/\1/p' | head -1)
    [ -n "$lat" ] && [ "$lat" -lt 100000 ] && break
    sleep 0.1
  done
}

if [ "${1:-}" = "--keepalive" ]; then
  # The previous recorder, if it still runs (its pid file may be stale: look before killing).
  old=$(cat "$XDG_RUNTIME_DIR/keepalive.pid" 2>/dev/null || true)
  if [ -n "$old" ] && [ "$(cat "/proc/$old/comm" 2>/dev/null)" = parec ]; then kill "$old"; fi
  start_keepalive
  exit 0
fi

pulseaudio --daemonize=yes --system=false --exit-idle-time=-1 -n \
  --realtime=no --high-priority=no --use-pid-file=yes \
  --log-target=file:"$PA_HOME/logs/pulseaudio.log" --log-level=info \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$XDG_RUNTIME_DIR/pulse/native" \
  --load="module-null-sink sink_name=vsink rate=48000 channels=2 sink_properties=device.description=VirtualSink"

up=0
for _ in $(seq 1 100); do
  if pactl info >/dev/null 2>&1; then up=1; break; fi
  sleep 0.05
done
if [ $up = 0 ]; then
  echo "the PulseAudio daemon did not answer; see $PA_HOME/logs/pulseaudio.log" >&2
  exit 1
fi
pactl set-default-sink vsink
pactl set-default-source vsink.monitor
start_keepalive
echo "PULSE_SERVER=$PULSE_SERVER"
