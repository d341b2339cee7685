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
env = dict(os.environ, JACK_DEFAULT_SERVER=server, JACK_NO_AUDIO_RESERVATION='1',
           LV2_PATH=str(pathlib.Path(args.bundle).resolve().parent))
os.environ.update(env)
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

jackd = subprocess.Popen(['jackd', '-n', server, '-d', 'dummy', '-r', str(args.rate),
                          '-p', str(args.period)], stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, env=env)
jalv = None
log_path = os.path.join(tmp, 'jalv.log')
try:
    client = None
    for _ in range(300):
        try:
            client = jack.Client('transport-test', no_start_server=True, servername=server)
            break
        except jack.JackError:
            time.sleep(0.1)
    if client is None:
        sys.exit('no JACK server started')
    rate = client.samplerate
    ins = [client.inports.register('in_%d' % i) for i in (1, 2)]
    bpm = [args.bpm]
    # The master's own timeline: beats at a frame, bent at each tempo change.
    bend = {'frame': 0, 'beats': 0.0, 'bpm': args.bpm}
    bends = [dict(bend)]

    def beats_at(frame):
        return bend['beats'] + (frame - bend['frame']) * bend['bpm'] / (60.0 * rate)

    def timebase(state, blocksize, pos, new_pos):
        if bpm[0] != bend['bpm']:
            bend['beats'] = beats_at(pos.frame)
            bend['frame'] = pos.frame
            bend['bpm'] = bpm[0]
            bends.append(dict(bend))
        b = beats_at(pos.frame)
        bar = int(b // 4)
        beat = int(b - bar * 4)
        pos.valid = jack.POSITION_BBT
        pos.bar = bar + 1
        pos.beat = beat + 1
        # Whole ticks, as masters give them: up to 12.5 frames behind at 120 BPM.
        pos.tick = int((b - bar * 4 - beat) * 1920)
        pos.bar_start_tick = bar * 4 * 1920.0
        pos.beats_per_bar = 4.0
        pos.beat_type = 4.0
        pos.ticks_per_beat = 1920.0
        pos.beats_per_minute = bpm[0]

    blocks = []
    xruns = [0]

    @client.set_xrun_callback
    def xrun(delay):
        xruns[0] += 1

    @client.set_process_callback
    def process(frames):
        state, pos = client.transport_query_struct()
        data = ins[0].get_array().copy() + ins[1].get_array()
        # The beats the transport says at the block's first frame, as the plugin is told.
        said = ((pos.bar - 1) * pos.beats_per_bar + pos.beat - 1 + pos.tick / pos.ticks_per_beat
                if pos.valid & jack.POSITION_BBT else None)
        blocks.append((state, pos.frame, data, said))

    client.set_timebase_callback(timebase, conditional=False)
    client.activate()
    client.transport_stop()
    client.transport_locate(0)

    # jalv leaves at the end of its standard input: a pipe kept open holds it.
    jalv = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                            stderr=open(log_path, 'w'))
    for port, i in zip(('marrowbeat-lv2:out_l', 'marrowbeat-lv2:out_r'), ins):
        for attempt in range(100):
            try:
                client.connect(port, i)
                break
            except jack.JackError:
                if jalv.poll() is not None:
                    sys.exit('jalv ended: ' + open(log_path).read())
                time.sleep(0.1)
        else:
            sys.exit('could not connect %s' % port)
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
            client.transport_locate(int(8 * 60.0 / bpm[0] * rate))  # bar 3
        if args.tempo_to:
            bpm[0] = args.tempo_to

    roll(args.secs, middle)
    time.sleep(args.stopped_secs)
    roll(args.secs / 2, None)
    time.sleep(0.5)
    if jalv.poll() is not None:
        print('jalv ended', file=sys.stderr)
    rec = list(blocks)
    client.deactivate()
    client.close()
finally:
    if jalv:
        jalv.terminate()
        try:
            jalv.wait(5)
        except subprocess.TimeoutExpired:
            jalv.kill()
    jackd.terminate()
    jackd.wait()
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


def timeline(frame):
    """Beats at a transport frame on the master's timeline (bent at tempo changes), and
    frames a beat there."""
    seg = ([b for b in bends if frame >= b['frame']] or bends)[-1]
    per = 60.0 * rate / seg['bpm']
    return seg['beats'] + (frame - seg['frame']) / per, per


def grid_error(frame):
    """Frames from the nearest sixteenth of the master's timeline."""
    beats, per = timeline(frame)
    return (beats * 4 - round(beats * 4)) * per / 4


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
    # The errors in order, as runs of one value: [error, count].
    runs = []
    for e in np.round(errs, 1):
        if runs and runs[-1][0] == float(e):
            runs[-1][1] += 1
        else:
            runs.append([float(e), 1])
    report['error_runs'] = runs[:12]
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
report['xruns'] = xruns[0]
# Rolling blocks whose bars and beats lie more than a tick from their frame's own: after
# an xrun the master's word may be a cycle old while the frame has moved on.
report['stale_bbt_blocks'] = sum(
    1 for s, f, _, said in rec
    if s == jack.ROLLING and said is not None and abs(said - timeline(f)[0]) > 1.0 / 1920 + 1e-9)
report['plugin_log'] = [l for l in log.splitlines() if 'Marrowbeat' in l]
print(json.dumps(report))
