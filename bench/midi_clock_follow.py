#!/usr/bin/python3
"""The program following a MIDI clock, measured from the outside.

A JACK server of its own (dummy driver, no sound card), the real program under Qt's
offscreen platform with its MIDI input on this script's clock port and "Follow MIDI
clock" on (through its settings file), playing the timing benchmark's setup (a click on
every 16th) into the server. One client of the script's sends Start and a clock of
24 a quarter note, each on a frame of its own: 120 BPM, then 90 BPM from the middle of
the run; another records the program's first output port. The clicks' onsets are then
set against the clock's 16ths (every sixth clock after Start):

- the tempo the clicks keep in each half (median distance), and its error;
- onset offsets from the nearest 16th, in ms: mean, spread and worst, per half, once the
  program has had two beats to follow;
- how many beats after the change the onsets are back within 1 ms (onsets within two
  beats after an xrun are counted apart);
- drift: the mean offset of the last minute of the first half less that of its first;
- the server's xruns: on a busy machine a client that misses its cycle moves clocks and
  sound alike, and the figures of such a run are not the program's.

The clock's sender runs in a Python process of its own: two JACK clients in one
interpreter take turns at its lock inside their real-time callbacks, and miss cycles.

Needs jackd, python3-jack-client and numpy, the program built (build/default) and the
shared benchmark folder beside the repository (../shared/bench).

  bench/midi_clock_follow.py [MINUTES]        (default 5: 5 minutes at 120, 1 at 90)
  DUMP=FILE bench/midi_clock_follow.py ...    also writes each onset's time and offset
  PERIOD=N bench/midi_clock_follow.py ...    the server's period (default 512 frames)
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import jack
import numpy

RATE = 48000
PERIOD = int(os.environ.get("PERIOD", "512"))
SERVER = "marrowbeat-clock-bench"
CLOCKS_PER_BEAT = 24
CLOCK, START, STOP = 0xF8, 0xFA, 0xFC

here = os.path.dirname(os.path.abspath(__file__))
repo = os.path.dirname(here)
program = os.path.join(repo, "build/default/src/app/marrowbeat")
sending_only = len(sys.argv) > 1 and sys.argv[1] == "--send"
if sending_only:
    del sys.argv[1]
minutes = float(sys.argv[1]) if len(sys.argv) > 1 else 5.0
first_s = minutes * 60.0
second_s = 60.0


def frames_per_clock(bpm):
    return RATE * 60.0 / (bpm * CLOCKS_PER_BEAT)


class Sender:
    """Start, then clocks at 120 BPM until `switch_s` seconds in, 90 BPM after."""

    def __init__(self):
        self.client = jack.Client("clock-bench-send", no_start_server=True)
        self.port = self.client.midi_outports.register("clock_out")
        self.going = False
        self.started = False
        self.next = 0.0
        self.start_frame = 0
        self.switch_frame = None
        self.bpm = 120.0
        self.clocks = []  # frames of every clock sent
        self.xruns = 0
        self.xrun_frames = []  # about where each xrun came, once started
        self.client.set_process_callback(self.process)
        self.client.set_xrun_callback(self.xrun)

    def xrun(self, delay):
        self.xruns += 1
        if self.started:
            self.xrun_frames.append(self.client.frame_time)

    def process(self, frames):
        self.port.clear_buffer()
        first = self.client.last_frame_time
        if not self.going:
            return
        if not self.started:
            self.port.write_midi_event(0, bytes([START]))
            self.start_frame = first
            self.next = first + 64.0
            self.switch_frame = first + int(first_s * RATE)
            self.started = True
        while self.next < first + frames:
            at = int(round(self.next))
            if at >= first + frames:
                break
            self.port.write_midi_event(max(at - first, 0), bytes([CLOCK]))
            self.clocks.append(at)
            bpm = 90.0 if at >= self.switch_frame else 120.0
            self.next += frames_per_clock(bpm)


class Recorder:
    def __init__(self, seconds):
        self.client = jack.Client("clock-bench-rec", no_start_server=True)
        self.port = self.client.inports.register("in")
        self.samples = numpy.zeros(int(seconds * RATE), dtype=numpy.float32)
        self.first_frame = None
        self.count = 0
        self.client.set_process_callback(self.process)

    def process(self, frames):
        # Each cycle's samples go where its frames lie on the server's count: a cycle the
        # server skipped (an xrun) leaves a gap instead of moving everything after it.
        now = self.client.last_frame_time
        if self.first_frame is None:
            self.first_frame = now
        at = now - self.first_frame
        data = self.port.get_array()
        n = max(0, min(frames, len(self.samples) - at))
        self.samples[at:at + n] = data[:n]
        self.count = max(self.count, at + n)


def onsets(samples, threshold=0.05, quiet=int(0.03 * RATE)):
    loud = numpy.flatnonzero(numpy.abs(samples) > threshold)
    found = []
    last = -quiet
    for i in loud:
        if i - last >= quiet:
            found.append(int(i))
        last = i
    return numpy.array(found, dtype=numpy.int64)


def send():
    """The sender's own process: waits for a line on stdin, sends for the whole run, then
    writes what it sent (and the xruns it saw) as JSON to stdout."""
    sender = Sender()
    sender.client.activate()
    print("ready", flush=True)
    sys.stdin.readline()
    sender.going = True
    time.sleep(first_s + second_s + 0.5)
    sender.going = False
    time.sleep(0.2)
    sender.client.deactivate()
    print("sent " + json.dumps({"start_frame": sender.start_frame,
                                "switch_frame": sender.switch_frame, "clocks": sender.clocks,
                                "xruns": sender.xruns, "xrun_frames": sender.xrun_frames}),
          flush=True)
    sender.client.close()


def reply(process, head):
    """The rest of the first line of the process's output that starts with head."""
    for line in process.stdout:
        if line.startswith(head):
            return line[len(head):]
    return None


class Sent:
    """What the sender's process reported."""

    def __init__(self, report):
        self.__dict__.update(report)


def main():
    if shutil.which("jackd") is None:
        sys.exit("jackd is not installed")
    if not os.access(program, os.X_OK):
        sys.exit(f"{program} is not built")
    work = tempfile.mkdtemp(prefix="marrowbeat-clock-bench-")
    env = dict(os.environ, JACK_DEFAULT_SERVER=SERVER, JACK_NO_AUDIO_RESERVATION="1",
               QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=os.path.join(work, "config"))
    os.environ.update(JACK_DEFAULT_SERVER=SERVER, JACK_NO_AUDIO_RESERVATION="1")
    setup = subprocess.run(["/usr/bin/python3", os.path.join(repo, "../shared/bench/make_bench_setup.py"),
                            work], check=True, capture_output=True, text=True).stdout.strip()
    jackd = subprocess.Popen(["jackd", "-n", SERVER, "-d", "dummy", "-r", str(RATE), "-p",
                              str(PERIOD)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    app = None
    sending = None
    try:
        recorder = None
        for _ in range(50):
            time.sleep(0.1)
            try:
                recorder = Recorder(first_s + second_s + 10.0)
                break
            except jack.JackError:
                pass
        if recorder is None:
            sys.exit("the JACK server did not come up")
        recorder.client.activate()
        sending = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--send",
                                    str(minutes)], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, text=True)
        # The JACK library may write to the same output: only the sender's lines count.
        if reply(sending, "ready") is None:
            sys.exit("the clock's sender did not start")

        settings = os.path.join(work, "config", "marrowbeat")
        os.makedirs(settings)
        with open(os.path.join(settings, "registry.ini"), "w") as f:
            f.write("[Marrowbeat\\midi]\ninputApi=jack\ninput=clock-bench-send:clock_out\n"
                    "followClock=on\n")
        app = subprocess.Popen([program, "--audio-api", "jack", setup], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        # The program's first output port, once its client is active and takes a connection.
        connected = False
        for _ in range(100):
            time.sleep(0.1)
            ports = [p for p in recorder.client.get_ports(is_audio=True, is_output=True)
                     if p.name.startswith("Marrowbeat")]
            try:
                if ports:
                    recorder.client.connect(ports[0], recorder.port)
                    connected = True
                    break
            except jack.JackError:
                pass
        if not connected:
            sys.exit("the program's sound output did not appear on the JACK server")
        time.sleep(1.0)
        sending.stdin.write("go\n")
        sending.stdin.flush()
        print(f"following a 120 BPM clock for {first_s:.0f} s, then 90 BPM for {second_s:.0f} s",
              flush=True)
        sent = reply(sending, "sent ")
        if sent is None:
            sys.exit("the clock's sender did not report what it sent")
        sender = Sent(json.loads(sent))
        sending.wait()
        sending = None
        time.sleep(0.3)
        recorder.client.deactivate()
    finally:
        if sending is not None:
            sending.kill()
        if app is not None:
            app.terminate()
            try:
                app.wait(timeout=10)
            except subprocess.TimeoutExpired:
                app.kill()
        jackd.terminate()
        jackd.wait()

    report(sender, recorder)
    shutil.rmtree(work, ignore_errors=True)


def report(sender, recorder):
    clocks = numpy.array(sender.clocks, dtype=numpy.int64)
    sixteenths = clocks[::6]
    found = onsets(recorder.samples[:recorder.count]) + recorder.first_frame
    # The program plays on after the clock stops: only the onsets while it came count.
    found = found[found <= clocks[-1]]
    if len(found) < 16:
        sys.exit(f"only {len(found)} onsets recorded: the program did not follow the clock")
    nearest = numpy.searchsorted(sixteenths, found)
    nearest = numpy.clip(nearest, 1, len(sixteenths) - 1)
    left = sixteenths[nearest - 1]
    right = sixteenths[nearest]
    grid = numpy.where(found - left < right - found, left, right)
    offsets_ms = (found - grid) * 1000.0 / RATE
    if os.environ.get("DUMP"):
        numpy.savetxt(os.environ["DUMP"], numpy.column_stack(
            [(found - sender.start_frame) / RATE, offsets_ms]), fmt="%.4f",
            header="seconds from Start, offset ms")
    two_beats = 2 * CLOCKS_PER_BEAT * frames_per_clock(120.0)
    settled = found >= sender.start_frame + two_beats
    change = sender.switch_frame
    for name, bpm, part in (("120 BPM", 120.0, settled & (found < change)),
                            ("90 BPM", 90.0, found >= change + 2 * CLOCKS_PER_BEAT *
                             frames_per_clock(90.0))):
        if part.sum() < 4:
            print(f"{name}: too few onsets ({part.sum()})")
            continue
        step = numpy.median(numpy.diff(found[part]))
        heard = 60.0 * RATE / (4 * step)
        o = offsets_ms[part]
        print(f"{name}: {part.sum()} onsets, tempo {heard:.3f} BPM (error {heard - bpm:+.3f}); "
              f"offset mean {o.mean():+.3f} ms, sd {o.std():.3f}, worst {numpy.abs(o).max():.3f}")
    # Onsets within two beats after an xrun are the server's, not the change's: they are
    # counted apart.
    beat90 = CLOCKS_PER_BEAT * frames_per_clock(90.0)
    near_xrun = numpy.zeros(len(found), dtype=bool)
    for x in sender.xrun_frames:
        near_xrun |= (found >= x) & (found < x + 2 * beat90)
    after = (found >= change)
    off = numpy.abs(offsets_ms) > 1.0
    late = numpy.flatnonzero(after & off & ~near_xrun)
    if len(late):
        print(f"after the change: the last onset off by more than 1 ms is "
              f"{(found[late[-1]] - change) / beat90:.2f} beats in", end="")
    else:
        print("after the change: every onset within 1 ms", end="")
    print(f" (within two beats after an xrun: {int((off & near_xrun).sum())} of "
          f"{int(near_xrun.sum())} onsets off by more than 1 ms)")
    minute = 60 * RATE
    head = settled & (found < sender.start_frame + minute)
    tail = (found >= change - minute) & (found < change)
    print(f"xruns: {sender.xruns}", end="")
    if sender.xrun_frames:
        at = (numpy.array(sender.xrun_frames) - sender.start_frame) / RATE
        print(f" (after Start: {len(at)}, first at {at[0]:.1f} s, last at {at[-1]:.1f} s)", end="")
    print()
    if head.any() and tail.any():
        print(f"drift over {(change - sender.start_frame) / RATE / 60:.1f} min: "
              f"{offsets_ms[tail].mean() - offsets_ms[head].mean():+.3f} ms "
              f"(first minute {offsets_ms[head].mean():+.3f}, last {offsets_ms[tail].mean():+.3f})")


if __name__ == "__main__":
    send() if sending_only else main()
