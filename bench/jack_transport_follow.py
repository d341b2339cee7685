#!/usr/bin/python3
"""Onsets of the program following a JACK transport, against the transport's grid.

Starts a private JACK server (dummy driver), a test client that is timebase master at
BPM (unless --program-master: then the program is master at its setup's tempo) and
records the program's output, starts the program with --jack-transport on SETUP, rolls
the transport from bar 1, and prints for every onset its distance in frames from the
nearest sixteenth of the transport, the first onset against the start, and what a
locate and a tempo change do.  Run from the project's root:

  /usr/bin/python3 bench/jack_transport_follow.py build/bench/bench16.mbx
"""
import argparse, json, os, shutil, subprocess, sys, tempfile, time

import numpy as np
import jack

from jack_master import Master, error_runs, stop

ap = argparse.ArgumentParser()
ap.add_argument('setup')
ap.add_argument('--program', default='build/default/src/app/marrowbeat')
ap.add_argument('--bpm', type=float, default=120.0)
ap.add_argument('--tempo-to', type=float, default=0.0, help='change the tempo to this mid-run')
ap.add_argument('--locate', action='store_true', help='locate to bar 3 mid-run')
ap.add_argument('--period', type=int, default=256)
ap.add_argument('--rate', type=int, default=48000)
ap.add_argument('--secs', type=float, default=10.0)
ap.add_argument('--program-master', action='store_true')
ap.add_argument('--settle', type=float, default=2.0, help='seconds between connecting and rolling')
args = ap.parse_args()

master = Master('marrowbeat-bench', args.rate, args.period, args.bpm,
                timebase=not args.program_master)
client, ins, rate, env = master.client, master.ins, master.rate, master.env
tmp = tempfile.mkdtemp()
program = None
try:
    blocks = []

    @client.set_process_callback
    def process(frames):
        state, pos = client.transport_query_struct()
        data = ins[0].get_array().copy() + ins[1].get_array()
        blocks.append((state, pos.frame, client.last_frame_time, data))

    client.activate()
    client.transport_stop()
    client.transport_locate(0)

    home = os.path.join(tmp, 'config')
    os.makedirs(home)
    penv = dict(env, XDG_CONFIG_HOME=home, QT_QPA_PLATFORM=os.environ.get('QT_QPA_PLATFORM', 'offscreen'))
    program = subprocess.Popen([args.program, '--audio-api', 'jack', '--jack-transport', args.setup],
                               env=penv, stdout=subprocess.DEVNULL, stderr=open('/tmp/prog.err','w'))
    outs = []
    for _ in range(200):
        outs = [p.name for p in client.get_ports(is_audio=True, is_output=True)
                if not p.name.startswith('system:') and not p.name.startswith('transport-test')]
        if len(outs) >= 2:
            break
        time.sleep(0.1)
    if len(outs) < 2:
        sys.exit('the program has no JACK output ports: %s' % outs)
    # The program's client may still be settling in: the connections are tried a while.
    master.connect(outs[:2], program)
    time.sleep(args.settle)
    blocks.clear()
    t0 = time.time()
    client.transport_start()
    while time.time() - t0 < args.secs:
        time.sleep(0.05)
        if args.locate and time.time() - t0 >= args.secs / 2 and not getattr(args, 'located', False):
            args.located = True
            client.transport_locate(int(8 * 60.0 / master.bpm * rate))  # bar 3
        if args.tempo_to and time.time() - t0 >= args.secs / 2 and master.bpm != args.tempo_to:
            master.bpm = args.tempo_to
    client.transport_stop()
    time.sleep(0.5)
    if program.poll() is not None:
        print('program ended', file=sys.stderr)
    rec = list(blocks)
finally:
    stop(program)
    master.close()
    shutil.rmtree(tmp, ignore_errors=True)

# Onsets: the first sample above the threshold after 1000 quiet ones, on the transport.
onsets = []
quiet = 10 ** 9
start_frame = None
for state, frame, ftime, data in rec:
    if state == jack.ROLLING and start_frame is None:
        start_frame = (frame, ftime)
    for i, v in enumerate(np.abs(data) > 1e-4):
        if v:
            if quiet >= 1000:
                onsets.append((state, frame + i, ftime + i))
            quiet = 0
        else:
            quiet += 1


report = {'onsets': len(onsets), 'rate': rate, 'period': args.period,
          'rolling_blocks': sum(1 for b in rec if b[0] == jack.ROLLING)}
grid_error = master.grid_error
bends = master.bends

if onsets and start_frame:
    errs = np.array([grid_error(t) for _, t, _ in onsets])
    report['first_onset_after_start_frames'] = int(onsets[0][2] - start_frame[1])
    report['max_abs_err_frames'] = round(float(np.max(np.abs(errs))), 2)
    report['within_1_frame'] = int(np.sum(np.abs(errs) <= 1.0))
    report['bends'] = len(bends) - 1
    report['error_runs'] = error_runs(errs)
    if args.tempo_to:
        bf = bends[-1]['frame']
        after = [t for _, t, _ in onsets if t >= bf]
        bad = [t for t in after if abs(grid_error(t)) > 1.0]
        report['tempo_change_frame'] = bf
        report['late_onsets_after_change'] = len(bad)
report['xruns'] = master.xruns
print(json.dumps(report))
