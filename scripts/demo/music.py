"""The show's sound: a private PulseAudio with a null sink, the music played into it, and a reference
recorder on the sink's monitor that tells when each loud burst became audible.

The service's loopback capture listens to the same monitor, so the recorder's view of the audio is the
one that matters: the first loud sample of a burst is found in the recording itself (sample-exact),
and the recording's sample clock is placed on this process's monotonic clock from the times its
chunks arrive."""

import array
import math
import os
import subprocess
import threading
import time
import wave
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
RATE = 48000
CHANNELS = 2
FRAME_BYTES = 2 * CHANNELS

# The bursts of the all-music stretch: a silent gap (the colour fades to black), then loud music
# whose colour changes on every tick. Three tones, one per band of the analysis (100 Hz low, 700 Hz
# mid, 5 kHz high), each swelling at its own rate between 10 % and 100 % of BURST_AMPLITUDE: the
# energy sweeps the effect's range and the dominant band keeps changing, so hue and brightness move.
BURST_GAP = 0.5
BURST_LOUD = 1.5
BURST_AMPLITUDE = 0.12
BURST_TONES = ((100.0, 3.0, 0.0), (700.0, 2.0, 1.0), (5000.0, 5.0, 2.0))  # hertz, swell hertz, phase

# Thresholds on 16-bit samples: silent blocks are digital silence (a null sink passes it exactly);
# a burst starts at full swing within a few samples.
SILENT_PEAK = 100
LOUD_PEAK = 600
BLOCK_FRAMES = 480           # 10 ms
GAP_BLOCKS_BEFORE_ONSET = 30  # an onset follows at least 0.3 s of silence


def end_process(process, timeout=5):
    """Terminates a process this show started (killed when it does not end in time)."""
    if process and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()


class PulseStart:
    """Starts a private PulseAudio with a null sink "vsink" (scripts/pa-start.sh) in the background.
    Its address is known at once: the daemon's socket in its private runtime folder."""

    def __init__(self, out_dir):
        home = out_dir / "pulse"
        self.server = f"unix:{home}/runtime/pulse/native"
        self.process = subprocess.Popen([str(ROOT / "scripts/pa-start.sh")], env=dict(os.environ, PA_HOME=str(home)),
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

    def wait(self):
        """None once the daemon answers at that address, else why not."""
        output, _ = self.process.communicate()
        lines = output.strip().splitlines()
        if self.process.returncode != 0:
            return lines[-1] if lines else "(no message)"
        if f"PULSE_SERVER={self.server}" not in lines:
            return f"it answers elsewhere: {lines[-1] if lines else '(no message)'}"
        return None


def stop_pulse(out_dir):
    """Starts stopping what PulseStart started (scripts/pa-stop.sh); returns the process to wait for."""
    return subprocess.Popen([str(ROOT / "scripts/pa-stop.sh")], env=dict(os.environ, PA_HOME=str(out_dir / "pulse")),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def write_voices(out_dir, seconds):
    """Three voices in turn, each pulsing four times a second: a 100 Hz bass (the low band: red), a
    700 Hz tone (the mid band: the hue creeps towards cyan) and a 5 kHz tone (the high band: towards
    magenta). The hue never wraps, so each return to the bass runs back through the rainbow."""
    voices = []
    for name, seconds_each, hertz in (("low", 2, 100), ("mid", 3, 700), ("high", 2, 5000)):
        voice = out_dir / f"{name}.wav"
        subprocess.run(["sox", "-q", "-n", "-r", str(RATE), "-c", str(CHANNELS), "-b", "16", str(voice), "synth",
                        str(seconds_each), "sine", str(hertz), "tremolo", "4", "90", "vol", "0.6"], check=True)
        voices.append(str(voice))
    mixed = out_dir / "voices.wav"
    subprocess.run(["sox", "-q", *voices, str(mixed), "repeat", str(int(seconds / 7) + 1)], check=True)
    return mixed


def write_bursts(out_dir, seconds):
    """Gap, burst, gap, burst ... for `seconds` (whole bursts)."""
    loud = array.array("h")
    for i in range(int(BURST_LOUD * RATE)):
        t = i / RATE
        value = 0.0
        for hertz, swell, phase in BURST_TONES:
            envelope = 0.1 + 0.45 * (1.0 + math.sin(2 * math.pi * swell * t + phase))
            value += BURST_AMPLITUDE * envelope * math.sin(2 * math.pi * hertz * t)
        sample = int(value * 32767)
        loud.extend((sample, sample))
    gap = array.array("h", bytes(int(BURST_GAP * RATE) * FRAME_BYTES))
    cycle = (gap + loud).tobytes()
    path = out_dir / "bursts.wav"
    with wave.open(str(path), "wb") as out:
        out.setnchannels(CHANNELS)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(cycle * max(1, int(seconds / (BURST_GAP + BURST_LOUD)) + 1))
    return path


class Player:
    """One paplay at a time into the null sink."""

    def __init__(self, server):
        self.env = dict(os.environ, PULSE_SERVER=server)
        self.process = None

    def play(self, path):
        self.stop()
        self.process = subprocess.Popen(["paplay", "--latency-msec=20", "-d", "vsink", str(path)], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        end_process(self.process)
        self.process = None


class Recorder:
    """Records the sink's monitor and notes when each chunk arrived (time.monotonic())."""

    def __init__(self, server):
        self.process = subprocess.Popen(
            ["parec", "--raw", "--format=s16le", f"--rate={RATE}", f"--channels={CHANNELS}", "--latency-msec=10",
             "-d", "vsink.monitor"], env=dict(os.environ, PULSE_SERVER=server), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.chunks = []  # (arrival, bytes)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        fd = self.process.stdout.fileno()
        while True:
            data = os.read(fd, 65536)
            arrived = time.monotonic()
            if not data:
                return
            self.chunks.append((arrived, data))

    def stop(self):
        end_process(self.process)
        self.thread.join(timeout=5)

    def bursts(self):
        """The loud bursts heard: [(onset, end)] in this process's monotonic seconds, and the timing's
        precision in seconds (see below)."""
        data = b"".join(chunk for _, chunk in self.chunks)
        samples = array.array("h")
        samples.frombytes(data[:len(data) - len(data) % FRAME_BYTES])
        frames = len(samples) // CHANNELS

        # Each chunk's last frame was in the monitor when the chunk arrived: the earliest time that
        # fits every chunk nearby is when frame 0 was there (a recorder that fell behind only makes a
        # chunk late, never early). Chunks of one onset's neighbourhood are used, so a dropped chunk
        # far away does not shift it.
        ends = []
        total = 0
        for arrived, chunk in self.chunks:
            total += len(chunk) // FRAME_BYTES
            ends.append((total, arrived))

        def when(frame):
            nearby = [arrived - end / RATE for end, arrived in ends if abs(end - frame) <= RATE]
            return (min(nearby) if nearby else None), frame / RATE

        found = []
        silent_blocks = 0
        onset = None
        last_loud = None
        for start in range(0, frames - BLOCK_FRAMES + 1, BLOCK_FRAMES):
            block = samples[start * CHANNELS:(start + BLOCK_FRAMES) * CHANNELS]
            peak = max(max(block), -min(block))
            if peak < SILENT_PEAK:
                silent_blocks += 1
                if onset is not None and silent_blocks >= GAP_BLOCKS_BEFORE_ONSET:
                    found.append((onset, last_loud))
                    onset = None
                continue
            if peak >= LOUD_PEAK:
                if onset is None and silent_blocks >= GAP_BLOCKS_BEFORE_ONSET:
                    first = next(i for i in range(len(block)) if abs(block[i]) >= LOUD_PEAK)
                    onset = start + first // CHANNELS
                last_loud = start + BLOCK_FRAMES
            silent_blocks = 0
        if onset is not None:
            found.append((onset, last_loud))

        result = []
        for onset, end in found:
            zero, offset = when(onset)
            if zero is not None:
                result.append((zero + offset, zero + end / RATE))
        # The monitor hands audio over in blocks rendered ahead of the sink's clock, so a sample is in
        # the monitor up to one block before its time; the chunks' length is that block.
        sizes = sorted(len(chunk) // FRAME_BYTES for _, chunk in self.chunks)
        return result, (sizes[len(sizes) // 2] / RATE if sizes else None)
