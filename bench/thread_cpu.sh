#!/usr/bin/env bash
# Where the program's CPU goes while it plays: its real window under a private Xvfb plays
# the shared click benchmark into a null sink of a PulseAudio server of its own
# (scripts/sound-server.sh), and each thread's run time (from the scheduler, to the
# nanosecond) and the times it went to sleep are read over the measurement, beside the
# sound server's threads. The total is the figure
# ../shared/bench/gui_bench.py reports as cpu_play_pct; this says which thread spends it.
#
#   bench/thread_cpu.sh [SECONDS, default 20] [PROGRAM OPTIONS...]
#   e.g. bench/thread_cpu.sh 20 --buffer-frames 1024
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-20}"
shift || true
/usr/bin/python3 ../shared/bench/make_bench_setup.py build/bench >/dev/null

source scripts/sound-server.sh
start_sound_server
config=$(mktemp -d)
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  stop_sound_server
  rm -rf "$config"
}
trap cleanup EXIT
sleep 1
export DISPLAY="$display"
XDG_CONFIG_HOME="$config" build/default/src/app/marrowbeat "$@" build/bench/bench16.mbx \
  >/dev/null 2>&1 &
app=$!
window=$(xdotool search --sync --name ' -  \+  ÷  x' | head -1)
xdotool windowfocus --sync "$window" key space
sleep 3

# tid name run-ns sleeps, for every thread of a process
threads() {
  for t in /proc/"$1"/task/*; do
    printf '%s %s %s %s\n' "$(basename "$t")" "$(tr ' ' _ < "$t/comm")" \
      "$(cut -d' ' -f1 "$t/schedstat")" "$(awk '/^voluntary/{print $2}' "$t/status")"
  done
}
server=$(cat "$XDG_RUNTIME_DIR/pulse/pid")
threads "$app" > "$XDG_RUNTIME_DIR/app-a"
threads "$server" > "$XDG_RUNTIME_DIR/server-a"
sleep "$secs"
threads "$app" > "$XDG_RUNTIME_DIR/app-b"
threads "$server" > "$XDG_RUNTIME_DIR/server-b"

report() {
  join "$XDG_RUNTIME_DIR/$1-a" "$XDG_RUNTIME_DIR/$1-b" | awk -v s="$secs" -v who="$1" '
    { cpu = ($6 - $3) / 1e7 / s; total += cpu
      printf "%-7s %-8s %-16s %6.2f %%  %5.0f sleeps/s\n", who, $1, $2, cpu, ($7 - $4) / s }
    END { printf "%-7s total %.2f %% of one core\n", who, total }'
}
echo "playing for $secs s (CPU as a share of one core)"
report app
report server
