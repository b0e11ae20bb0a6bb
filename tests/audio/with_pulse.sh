#!/usr/bin/env bash
# Runs a command against a private PulseAudio: a null sink as the default
# output and a loopback source over its monitor as the default input, so
# what is played can be recorded (Qt lists no monitor sources as inputs). Without pulseaudio the command runs as it is (its tests skip
# when no device appears).
set -u
if ! command -v pulseaudio >/dev/null; then
  echo "with_pulse: no pulseaudio, running without a sound device" >&2
  exec "$@"
fi
runtime=$(mktemp -d /tmp/qovra-pulse-XXXXXX)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime PULSE_RUNTIME_PATH=$runtime/pulse HOME=$runtime
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
  -L "module-native-protocol-unix" -L "module-null-sink sink_name=qovra_null" \
  --log-target=stderr --log-level=error &
pulse=$!
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink qovra_null >/dev/null 2>&1
pactl load-module module-remap-source source_name=qovra_loop master=qovra_null.monitor >/dev/null 2>&1
pactl set-default-source qovra_loop >/dev/null 2>&1
"$@"
rc=$?
kill "$pulse" 2>/dev/null
wait "$pulse" 2>/dev/null
rm -rf "$runtime"
exit $rc
