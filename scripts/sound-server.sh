# Sourced by the test and benchmark scripts: starts a PulseAudio server with two null
# sinks, the default one at 44 100 Hz and "Null48" at 48 000 Hz, in a runtime folder of its
# own, so that real playback can be recorded back from a sink's monitor on a machine
# without a sound card, and stops it again when the calling script exits. Exports XDG_RUNTIME_DIR for the tests.
start_sound_server() {
  if ! command -v pulseaudio >/dev/null 2>&1; then
    echo "warning: pulseaudio is not installed; the live sound test will be skipped" >&2
    return 0
  fi
  sound_server_dir=$(mktemp -d /tmp/marrowbeat-pulse-XXXXXX)
  export XDG_RUNTIME_DIR="$sound_server_dir"
  # -n: none of the default modules (no hardware detection); as root the server warns
  # that it is not meant to run as root, and runs all the same.
  pulseaudio --daemonize=yes --system=no --exit-idle-time=-1 -n --disallow-exit=no \
    --load="module-null-sink sink_name=marrowbeat_null rate=44100 channels=2" \
    --load="module-null-sink sink_name=marrowbeat_null48 rate=48000 channels=2 sink_properties=device.description=Null48" \
    --load="module-native-protocol-unix" >/dev/null 2>&1 || true
  for _ in $(seq 50); do
    if pactl info >/dev/null 2>&1; then
      pactl set-default-sink marrowbeat_null >/dev/null 2>&1 || true
      # A desktop's server has real-time threads (from rtkit); this one, started as root
      # or without rtkit, gets them here where the system allows it. Otherwise its timing
      # reports come tens of microseconds late whenever the machine is busy.
      chrt -a -r -p 5 "$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null)" >/dev/null 2>&1 || true
      trap stop_sound_server EXIT
      return 0
    fi
    sleep 0.1
  done
  echo "warning: the PulseAudio server did not start; the live sound test will be skipped" >&2
}

stop_sound_server() {
  pulseaudio --kill >/dev/null 2>&1 || true
  rm -rf "$sound_server_dir"
}
