#!/usr/bin/env bash
# The live instrument measured from the outside, as a listener would: the program's real
# window under a private Xvfb plays the shared click benchmark (16 clicks a bar at 126 BPM)
# into a PulseAudio null sink of its own, once with the time-stamp counter and once with
# the monotonic clock as the timer setting; the recording's onsets are checked against the
# ideal grid, and start-up, memory and CPU stopped and playing are measured
# (../shared/bench/gui_bench.py). Needs the shared benchmark folder beside the repository.
#
#   bench/gui_timing.sh [RUNS] [PLAY-SECONDS] [IDLE-SECONDS]    (default 3 runs of 20 s)
#   QUICK=1 bench/gui_timing.sh ...   Space 0.3 s after the window is up, the stream new
#   RATE=96000 bench/gui_timing.sh ... the null sink (and the recording) at another rate
#   BUFFER=2048 bench/gui_timing.sh ... the program's output buffer, in frames
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"
play="${2:-20}"
idle="${3:-10}"
rate="${RATE:-44100}"
# The click period in samples at that rate: a step at 126 BPM is 60 / 126 / 4 s.
period=$(/usr/bin/python3 -c "print(60 / 126 / 4 * $rate)")
shared=../shared/bench
/usr/bin/python3 "$shared/make_bench_setup.py" build/bench >/dev/null

export XDG_RUNTIME_DIR
XDG_RUNTIME_DIR=$(mktemp -d /tmp/marrowbeat-bench-XXXXXX)
pulseaudio --daemonize=yes --system=no --exit-idle-time=-1 -n --disallow-exit=no \
  --load="module-null-sink sink_name=cap rate=$rate channels=2" \
  --load="module-native-protocol-unix" >/dev/null 2>&1
trap 'pulseaudio --kill >/dev/null 2>&1 || true; rm -rf "$XDG_RUNTIME_DIR"' EXIT
sleep 1
pactl set-default-sink cap

timing=(--idle "$idle")
if [ "${QUICK:-0}" = 1 ]; then
  timing=(--settle 0 --idle 0.3 --play-warmup 0)
fi
for setting in on off; do
  config=$(mktemp -d)
  mkdir -p "$config/marrowbeat"
  printf '[Marrowbeat\\data\\8]\nhighResTimer=%s\n' "$setting" > "$config/marrowbeat/registry.ini"
  echo "=== high-resolution timer $setting"
  XDG_CONFIG_HOME="$config" /usr/bin/python3 "$shared/gui_bench.py" --name ' -  \+  ÷  x' \
    --runs "$runs" --play-secs "$play" "${timing[@]}" \
    --play-cmd 'xdotool windowfocus --sync $APP_WID key space' \
    --stop-cmd 'xdotool windowfocus --sync $APP_WID key space' \
    --record-source cap.monitor --rate "$rate" --period "$period" --out "build/gui_bench_$setting" -- \
    build/default/src/app/marrowbeat ${BUFFER:+--buffer-frames "$BUFFER"} build/bench/bench16.mbx
  rm -rf "$config"
done
