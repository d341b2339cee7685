"""What the JACK transport benchmarks share: a private JACK server with the dummy driver,
a test client on it that records two input ports and is the transport's timebase master
at a tempo (bars of four quarters, whole ticks of 1920 to the beat, as masters give them),
the master's timeline bent at each tempo change, and each frame's distance from its
sixteenths.  The scripts register their own process callback on `client`."""
import os, subprocess, sys, time

import jack

TICKS = 1920


class Master:
    def __init__(self, server, rate, period, bpm, timebase=True, env=None):
        self.env = dict(env or os.environ, JACK_DEFAULT_SERVER=server,
                        JACK_NO_AUDIO_RESERVATION='1')
        os.environ.update(self.env)
        self.jackd = subprocess.Popen(['jackd', '-n', server, '-d', 'dummy', '-r', str(rate),
                                       '-p', str(period)], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL, env=self.env)
        self.client = None
        for _ in range(300):
            try:
                self.client = jack.Client('transport-test', no_start_server=True,
                                          servername=server)
                break
            except jack.JackError:
                time.sleep(0.1)
        if self.client is None:
            self.close()
            sys.exit('no JACK server started')
        self.rate = self.client.samplerate
        self.ins = [self.client.inports.register('in_%d' % i) for i in (1, 2)]
        # The tempo to give from the next cycle on; the timeline as beats at a frame, bent
        # where the tempo changed.
        self.bpm = bpm
        self.bends = [{'frame': 0, 'beats': 0.0, 'bpm': bpm}]
        self.xruns = 0
        self.client.set_xrun_callback(self._xrun)
        if timebase:
            self.client.set_timebase_callback(self._timebase, conditional=False)

    def _xrun(self, delay):
        self.xruns += 1

    def beats_at(self, frame):
        """Beats at a transport frame on the master's timeline, and frames a beat there."""
        seg = ([b for b in self.bends if frame >= b['frame']] or self.bends)[-1]
        per = 60.0 * self.rate / seg['bpm']
        return seg['beats'] + (frame - seg['frame']) / per, per

    def grid_error(self, frame):
        """Frames from the nearest sixteenth of the master's timeline."""
        beats, per = self.beats_at(frame)
        return (beats * 4 - round(beats * 4)) * per / 4

    def _timebase(self, state, blocksize, pos, new_pos):
        # The master goes on along its latest stretch, wherever the transport is.
        def now(frame, bend):
            return bend['beats'] + (frame - bend['frame']) * bend['bpm'] / (60.0 * self.rate)
        if self.bpm != self.bends[-1]['bpm']:
            self.bends.append({'frame': pos.frame, 'beats': now(pos.frame, self.bends[-1]),
                               'bpm': self.bpm})
        b = now(pos.frame, self.bends[-1])
        bar = int(b // 4)
        beat = int(b - bar * 4)
        pos.valid = jack.POSITION_BBT
        pos.bar = bar + 1
        pos.beat = beat + 1
        # Whole ticks, as masters give them: up to 12.5 frames behind at 120 BPM.
        pos.tick = int((b - bar * 4 - beat) * TICKS)
        pos.bar_start_tick = bar * 4 * float(TICKS)
        pos.beats_per_bar = 4.0
        pos.beat_type = 4.0
        pos.ticks_per_beat = float(TICKS)
        pos.beats_per_minute = self.bpm

    def connect(self, outs, proc=None, what='the program'):
        """Connects two output ports to the recorder, trying while the other client settles
        (and while `proc`, when given, still runs)."""
        for o, i in zip(outs, self.ins):
            for _ in range(100):
                try:
                    self.client.connect(o, i)
                    break
                except jack.JackError:
                    if proc is not None and proc.poll() is not None:
                        sys.exit('%s ended' % what)
                    time.sleep(0.1)
            else:
                sys.exit('could not connect %s to %s' % (o, i))

    def close(self):
        if self.client is not None:
            self.client.deactivate()
            self.client.close()
            self.client = None
        self.jackd.terminate()
        self.jackd.wait()


def stop(process):
    """Ends a process the benchmark started (a kill when it does not end within 5 s)."""
    if process is None:
        return
    process.terminate()
    try:
        process.wait(5)
    except subprocess.TimeoutExpired:
        process.kill()


def error_runs(errs, most=12):
    """Errors in order as runs of one value, to a tenth of a frame: [error, count]."""
    runs = []
    for e in errs:
        e = round(float(e), 1)
        if runs and runs[-1][0] == e:
            runs[-1][1] += 1
        else:
            runs.append([e, 1])
    return runs[:most]
