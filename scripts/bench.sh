#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks and runs them. Pass the seconds per
# measurement to shorten the step clock's run (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default
build/default/bench/bench_step_clock "${1:-30}"
build/default/bench/bench_widget_paint
build/default/bench/bench_panel_paint
build/default/bench/bench_mixer_throughput 60
build/default/bench/bench_sound_loading
# The command-line render of the shared benchmark setup (16 clicks a bar at 126 BPM), 1 and
# 320 bars, when the shared benchmark folder is beside the repository; else the demo.
if [ -f ../shared/bench/make_bench_setup.py ]; then
  /usr/bin/python3 ../shared/bench/make_bench_setup.py build/bench >/dev/null
  build/default/bench/bench_render build/default/src/cli/marrowbeat-cli build/bench/bench16.mbx 5 build/bench
else
  build/default/bench/bench_render build/default/src/cli/marrowbeat-cli examples/demo.mbx 5 build
fi
# Live timing through a real sound server with a null sink, 20 s per clock source.
source scripts/sound-server.sh
start_sound_server
build/default/bench/bench_live_timing build/default/kit 20
# The sound server's stream alone, writing silence: its CPU per buffer size.
build/default/bench/bench_pulse_stream_cost 10 3
# Two instances started together, on a virtual display and a sound server of their own.
build/default/bench/bench_instances_phase build/default/kit 8 3
# The program's start-up, memory and CPU while playing the demo, on a virtual display.
xvfb-run -a -s "-screen 0 1024x768x24" build/default/bench/bench_app_startup build/default/kit 20
# The live instrument from the outside: the real window's recording on the click benchmark,
# with either timer setting, when the shared benchmark folder is beside the repository.
if [ -f ../shared/bench/gui_bench.py ]; then
  bench/gui_timing.sh 3 20
fi
