#!/usr/bin/python3
"""Onsets of the LV2 plugin, hosted by jalv, following a JACK transport.

Starts a private JACK server (dummy driver), a test client that is timebase master at
BPM and records the plugin's out_l/out_r, and jalv running the plugin from the build
tree's bundle (on SETUP through a state directory, or on the demo). Rolls the transport
from bar 1 (with --locate: to bar 3 halfway; with --tempo-to: a new tempo halfway),
stops it, rolls it again from where it stopped and stops it. Prints for every onset its
distance in frames from the nearest sixteenth of the master's timeline, the first onset
after each start, and the onsets heard while the transport stood. onsets_before_roll
counts what the plugin plays before the host says where its transport stands (jalv says
nothing while it stands at frame 0 at 120 BPM: the plugin then plays by its own tempo),
which may hide the first roll's first onset; stale_bbt_blocks counts the cycles whose
bars and beats the master left a cycle behind their frame (it missed the cycle: xruns).
From the project's root:

  /usr/bin/python3 bench/lv2_transport_follow.py --setup build/bench/bench16.mbx --period 256
"""
import argparse, json, os, pathlib, shutil, subprocess, sys, tempfile, time

import numpy as np
import jack

from jack_master import TICKS, Master, error_runs, stop

PLUGIN = 'https://marrowbeat.example/lv2/step-sequencer'

ap = argparse.ArgumentParser()
ap.add_argument('--setup', help='the setup to play (default: the demo)')
ap.add_argument('--bundle', default='build/default/lv2/marrowbeat.lv2')
ap.add_argument('--bpm', type=float, default=120.0)
ap.add_argument('--tempo-to', type=float, default=0.0, help='change the tempo to this halfway')
ap.add_argument('--locate', action='store_true', help='locate to bar 3 halfway')
ap.add_argument('--period', type=int, default=256)
ap.add_argument('--rate', type=int, default=48000)
ap.add_argument('--secs', type=float, default=10.0, help='length of the first roll')
ap.add_argument('--stopped-secs', type=float, default=2.0, help='the stop between the rolls')
ap.add_argument('--settle', type=float, default=2.0, help='seconds between connecting and rolling')
args = ap.parse_args()

server = 'marrowbeat-lv2-bench'
tmp = tempfile.mkdtemp()
command = ['jalv', '-n', 'marrowbeat-lv2']
if args.setup:
    # A state directory as lilv saves one: the setup is an external file, named by its
    # file URI (lilv reads that back as an atom:Path).
    state = os.path.join(tmp, 'state')
    os.makedirs(state)
    prefixes = ''.join('@prefix %s: <%s> .\n' % p for p in (
        ('lv2', 'http://lv2plug.in/ns/lv2core#'), ('pset', 'http://lv2plug.in/ns/ext/presets#'),
        ('rdfs', 'http://www.w3.org/2000/01/rdf-schema#'),
        ('state', 'http://lv2plug.in/ns/ext/state#')))
    with open(os.path.join(state, 'manifest.ttl'), 'w') as f:
        f.write(prefixes + '\n<state.ttl>\n\tlv2:appliesTo <%s> ;\n\ta pset:Preset ;\n'
                '\trdfs:seeAlso <state.ttl> .\n' % PLUGIN)
    with open(os.path.join(state, 'state.ttl'), 'w') as f:
        f.write(prefixes + '\n<>\n\ta pset:Preset ;\n\tlv2:appliesTo <%s> ;\n\tstate:state [\n'
                '\t\t<%s#setup> <%s>\n\t] .\n'
                % (PLUGIN, PLUGIN, pathlib.Path(args.setup).resolve().as_uri()))
    command += ['-l', state]
command.append(PLUGIN)

master = Master(server, args.rate, args.period, args.bpm,
                env=dict(os.environ, LV2_PATH=str(pathlib.Path(args.bundle).resolve().parent)))
client, ins, rate, env = master.client, master.ins, master.rate, master.env
jalv = None
log_path = os.path.join(tmp, 'jalv.log')
try:
    blocks = []

    @client.set_process_callback
    def process(frames):
        state, pos = client.transport_query_struct()
        data = ins[0].get_array().copy() + ins[1].get_array()
        # The beats the transport says at the block's first frame, as the plugin is told.
        said = ((pos.bar - 1) * pos.beats_per_bar + pos.beat - 1 + pos.tick / pos.ticks_per_beat
                if pos.valid & jack.POSITION_BBT else None)
        blocks.append((state, pos.frame, data, said))

    client.activate()
    client.transport_stop()
    client.transport_locate(0)

    # jalv leaves at the end of its standard input: a pipe kept open holds it.
    jalv = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=open(log_path, 'w'))
    master.connect(('marrowbeat-lv2:out_l', 'marrowbeat-lv2:out_r'), jalv, 'jalv')
    time.sleep(args.settle)
    # The recording's block at each transport_start.
    starts = []

    def roll(secs, halfway):
        starts.append(len(blocks))
        client.transport_start()
        t0 = time.time()
        done = False
        while time.time() - t0 < secs:
            time.sleep(0.05)
            if halfway and not done and time.time() - t0 >= secs / 2:
                done = True
                halfway()
        client.transport_stop()

    def middle():
        if args.locate:
            client.transport_locate(int(8 * 60.0 / master.bpm * rate))  # bar 3
        if args.tempo_to:
            master.bpm = args.tempo_to

    roll(args.secs, middle)
    time.sleep(args.stopped_secs)
    roll(args.secs / 2, None)
    time.sleep(0.5)
    if jalv.poll() is not None:
        print('jalv ended', file=sys.stderr)
    rec = list(blocks)
finally:
    stop(jalv)
    master.close()
    log = open(log_path).read() if os.path.exists(log_path) else ''
    shutil.rmtree(tmp, ignore_errors=True)

# One sample a row: the signal, the transport frame, rolling or not, the block.
sig = np.concatenate([d for _, _, d, _ in rec])
size = np.array([len(d) for _, _, d, _ in rec])
first = np.repeat(np.cumsum(size) - size, size)
block = np.repeat(np.arange(len(rec)), size)
rolling = np.repeat(np.array([s == jack.ROLLING for s, _, _, _ in rec]), size)
tframe = np.repeat(np.array([f for _, f, _, _ in rec]), size) + np.where(
    rolling, np.arange(len(sig)) - first, 0)
# Onsets: the first sample above the threshold after 1000 quiet ones.
loud = np.flatnonzero(np.abs(sig) > 1e-4)
onsets = loud[np.diff(loud, prepend=-10 ** 9) > 1000]


timeline = master.beats_at
grid_error = master.grid_error
bends = master.bends


def sixteenths(lo, hi):
    """Sixteenths of the first timeline (no bend) in transport frames [lo, hi)."""
    per = 15.0 * rate / args.bpm
    return int(np.ceil(hi / per) - np.ceil(lo / per))


on_roll = onsets[rolling[onsets]]
errs = np.array([grid_error(int(tframe[i])) for i in on_roll])
rolled = int(np.flatnonzero(rolling)[0]) if rolling.any() else len(sig)
report = {'setup': args.setup or 'demo', 'period': args.period, 'rate': rate, 'bpm': args.bpm,
          'onsets': int(len(on_roll)),
          'onsets_before_roll': int(np.sum(onsets < rolled)),
          'onsets_while_stopped': int(np.sum(~rolling[onsets] & (onsets >= rolled)))}
if len(errs):
    report['max_abs_err_frames'] = round(float(np.max(np.abs(errs))), 2)
    report['within_1_frame'] = int(np.sum(np.abs(errs) <= 1.0))
    report['error_runs'] = error_runs(errs)
# Each roll: where it started, the first onset after (transport frames) and its error.
report['rolls'] = []
for n, b in enumerate(starts):
    end = starts[n + 1] if n + 1 < len(starts) else len(rec)
    lo = int(np.searchsorted(block, b))
    hi = int(np.searchsorted(block, end))
    mine = on_roll[(on_roll >= lo) & (on_roll < hi)]
    at = lo + np.flatnonzero(rolling[lo:hi])
    if not len(at):
        continue
    roll_info = {'start_frame': int(tframe[at[0]]), 'onsets': int(len(mine))}
    if not args.locate and not args.tempo_to:
        roll_info['sixteenths'] = sixteenths(int(tframe[at[0]]), int(tframe[at[-1]]) + 1)
    if len(mine):
        roll_info['first_onset_after_start_frames'] = int(tframe[mine[0]] - tframe[at[0]])
        roll_info['first_onset_err_frames'] = round(grid_error(int(tframe[mine[0]])), 2)
    report['rolls'].append(roll_info)
if args.tempo_to and len(bends) > 1:
    report['tempo_change_frame'] = bends[-1]['frame']
    report['late_onsets_after_change'] = int(sum(
        1 for i, e in zip(on_roll, errs) if tframe[i] >= bends[-1]['frame'] and abs(e) > 1.0))
report['xruns'] = master.xruns
# Rolling blocks whose bars and beats lie more than a tick from their frame's own: after
# an xrun the master's word may be a cycle old while the frame has moved on.
report['stale_bbt_blocks'] = sum(
    1 for s, f, _, said in rec
    if s == jack.ROLLING and said is not None and abs(said - timeline(f)[0]) > 1.0 / TICKS + 1e-9)
report['plugin_log'] = [l for l in log.splitlines() if 'Marrowbeat' in l]
print(json.dumps(report))
