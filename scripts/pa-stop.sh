#!/usr/bin/env bash
# pa-stop.sh: stops only what pa-start.sh started under the same PA_HOME (PIDs from its private files).
: "${PA_HOME:?PA_HOME must name the folder given to pa-start.sh}"
rt=$PA_HOME/runtime
if [ -f "$rt/keepalive.pid" ]; then
  kill "$(cat "$rt/keepalive.pid")" 2>/dev/null
  rm -f "$rt/keepalive.pid"
fi
if [ -f "$rt/pulse/pid" ]; then
  pid=$(cat "$rt/pulse/pid")
  if kill "$pid" 2>/dev/null; then
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
fi
exit 0
