#!/usr/bin/env python3
"""The service's main job on the virtual board, as a scripted show.

Starts the virtual board (automation server, ovio.dll, shared board state) and the service in a private
Wine prefix, plays generated music into a private PulseAudio null sink, and runs a show through the
client tool in three stretches:
  1. the onboard zone and strip 1 in thermal mode while the CPU temperature ramps from 20 to 70
     degrees, strip 0 in music mode, strip 2 off; the strips are switched off and on again; then every
     colour at half brightness, then every light off for a while, and on again at full brightness;
  2. every device in music mode, with loud bursts of music between short silences;
  3. every device still in music mode, in silence.
The board is drawn live in the terminal, a timeline picture is written, and the figures the board saw
are printed per stretch. Everything it started is stopped and unregistered at the end (unless
--keep-running), so a second run starts from the same clean state.

Run it through scripts/run-demo.sh, which installs and builds first.
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import figures  # noqa: E402  (beside this file)
import music  # noqa: E402
import timeline  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
SERVICE = "Orvex LED Control Service"
MODE_NAMES = {0: "none", 1: "music", 2: "thermal"}
DEVICES = (-1, 0, 1, 2)


def schedule(duration, first_burst_after=0.0):
    """When the show's steps come (seconds from its start). The thermal thread's first colour comes
    3 s after the service started, so the strips stay on until then; the brightness step and the
    lights-off stretch follow; the all-music stretches take the last part of the show (a show shorter
    than about 16 s has no room for them all)."""
    strips_off = max(0.2 * duration, 4.5)
    strips_on = strips_off + max(1.5, duration / 15)
    brightness = strips_on + max(1.0, 0.05 * duration)
    lights_off = brightness + max(1.5, 0.08 * duration)
    lights_on = lights_off + max(1.5, 0.08 * duration)
    all_music = max(0.55 * duration, lights_on + 1.0)
    # A silence before the first burst lengthens the show by as much: the bursts keep their stretch.
    return {"strips_off": strips_off, "strips_on": strips_on, "brightness": brightness, "lights_off": lights_off,
            "lights_on": lights_on, "all_music": all_music, "bursts": all_music + first_burst_after,
            "silence": duration - max(1.0, 0.15 * duration) + first_burst_after,
            "end": duration + first_burst_after}


def say(text):
    print(f"==> {text}", flush=True)


def note(text):
    print(f"    {text}", flush=True)


class DemoError(Exception):
    pass


class Wine:
    """Runs Windows programs of the demo in its private prefix; headless, or with `display` (an X
    server's name) for windows that are seen and driven."""

    def __init__(self, out_dir, install_dir, extra_env, display=None):
        self.out_dir = out_dir
        self.install = install_dir
        self.env = dict(os.environ)
        self.env.update(extra_env)
        self.env.update({
            "WINEPREFIX": str(out_dir / "wineprefix"),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "OVLED_NO_MESSAGE_BOXES": "1",
        })
        self.env.pop("DISPLAY", None)
        self.display = display
        if display:
            self.env["DISPLAY"] = display

    def session(self, stop=False):
        mode = ["--stop"] if stop else ["--display"] if self.display else []
        args = [str(ROOT / "scripts/wine-prefix.sh"), str(self.out_dir)] + mode
        # Through a file, as every Wine command here (the stop writes a file of its own). The session's
        # services write to services.log beside it (scripts/wine-prefix.sh): a crashing service's last words.
        with open(self.out_dir / ("session-stop.log" if stop else "session.log"), "w+", errors="replace") as log:
            done = subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
            log.seek(0)
            output = log.read().strip()
        if stop:
            return
        for line in output.splitlines():
            note(line.strip())
        if done.returncode != 0:
            raise DemoError(f"preparing the Wine session failed: exit status {done.returncode}, "
                            "its output is above")

    def run(self, program, *args, check=True, timeout=120, quiet=False):
        return self._run([str(self.install / program), *map(str, args)], check, timeout, quiet)

    def system(self, *args, check=True, timeout=120):
        """A program of the prefix itself (net, sc)."""
        return self._run(list(args), check, timeout, quiet=True)

    def _run(self, command, check, timeout, quiet):
        # Output goes through a file, not a pipe: a program that starts a long-lived one (a server, the
        # service) would hand it the pipe, and reading to its end would wait for that process to end.
        with open(self.out_dir / "commands.log", "a+", errors="replace") as log:
            log.write(f"\n$ wine {' '.join(command)}\n")
            log.flush()
            start = log.tell()
            done = subprocess.run(["wine", *command], env=self.env, cwd=self.install, timeout=timeout,
                                  stdin=subprocess.DEVNULL, stdout=log, stderr=log)
            log.seek(start)
            output = log.read().strip()
        if check and done.returncode != 0:
            raise DemoError(f"wine {' '.join(command)} failed ({done.returncode}): {output}")
        if not quiet and output:
            for line in output.splitlines():
                note(line.rstrip())
        return output

    def popen(self, program, *args, stdin=subprocess.DEVNULL):
        return subprocess.Popen(["wine", str(self.install / program), *map(str, args)], env=self.env,
                                cwd=self.install, stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True, errors="replace")


class BoardClock:
    """`boardctl clock`, kept running through the show: each measure() places the board clock on this
    process's monotonic clock."""

    def __init__(self, wine):
        self.process = wine.popen("boardctl.exe", "clock", stdin=subprocess.PIPE)

    def measure(self, rounds=50):
        """The board clock minus this process's monotonic clock, in microseconds, and how precisely it
        is known (half the best round trip)."""
        best = None
        for _ in range(rounds):
            before = time.monotonic()
            self.process.stdin.write("\n")
            self.process.stdin.flush()
            answer = self.process.stdout.readline()
            after = time.monotonic()
            if not answer.strip().isdigit():
                break
            trip = after - before
            if best is None or trip < best[0]:
                best = (trip, int(answer) - (before + after) / 2 * 1e6)
        if best is None:
            raise DemoError("boardctl clock gave no answer")
        return best[1], best[0] / 2 * 1e6

    def stop(self):
        self.process.stdin.close()
        music.end_process(self.process)


class Watcher:
    """Reads boardctl's JSON samples on a thread of its own and keeps them all (also in a file, for a
    look afterwards)."""

    def __init__(self, process, path):
        self.process = process
        self.path = path
        self.samples = []  # (monotonic time of arrival, sample)
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        with open(self.path, "w") as kept:
            for line in self.process.stdout:
                arrived = time.monotonic()
                line = line.strip()
                if not line.startswith("{"):
                    continue
                try:
                    sample = json.loads(line)
                except ValueError:
                    continue
                kept.write(f"{arrived:.6f} {line}\n")
                with self.lock:
                    self.samples.append((arrived, sample))

    def latest(self):
        with self.lock:
            return self.samples[-1] if self.samples else None

    def all(self):
        with self.lock:
            return list(self.samples)

    def wait_first(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.latest():
                return True
            if self.process.poll() is not None:
                return False
            time.sleep(0.05)
        return False

    def stop(self):
        music.end_process(self.process, timeout=10)
        self.thread.join(timeout=5)


class LiveView:
    """One true-colour block per device, redrawn in place; plain lines once a second elsewhere."""

    def __init__(self, stream):
        self.stream = stream
        self.tty = stream.isatty() and os.environ.get("TERM", "") != "dumb"
        self.drawn = 0
        self.last_plain = 0.0

    def draw(self, elapsed, sample, modes, strips_on, caption):
        leds = sample["leds"]
        temperature = sample["temp"] / 10.0
        if not self.tty:
            if elapsed - self.last_plain >= 1.0 or self.last_plain == 0.0:
                self.last_plain = max(elapsed, 1e-9)
                parts = [f"{self._name(led['dev'])}=#{led['rgb']}" for led in leds]
                self.stream.write(f"  t={elapsed:5.1f}s  {temperature:4.1f} C  " + "  ".join(parts) + "\n")
                self.stream.flush()
            return
        lines = [f"  t = {elapsed:5.1f} s   CPU {temperature:4.1f} C   {caption}"]
        for led in leds:
            device = led["dev"]
            r, g, b = (int(led["rgb"][i:i + 2], 16) for i in (0, 2, 4))
            mode = MODE_NAMES.get(modes.get(device, 0), "none")
            if device >= 0 and not strips_on:
                mode += " (strips off)"
            state = "service colour" if led["host"] else "firmware effect"
            lines.append(f"  \x1b[48;2;{r};{g};{b}m            \x1b[0m  {self._name(device):8} "
                         f"{mode:22} #{led['rgb']}  {state}")
        if self.drawn:
            self.stream.write(f"\x1b[{self.drawn}F")
        for line in lines:
            self.stream.write("\x1b[2K" + line + "\n")
        self.stream.flush()
        self.drawn = len(lines)

    @staticmethod
    def _name(device):
        return "onboard" if device == -1 else f"strip {device}"


def service_pid(prefix):
    """The Linux process of the service running in this show's Wine prefix (other prefixes on the
    machine may run a service of their own)."""
    found = subprocess.run(["pgrep", "-f", "OvLedService.exe"], stdout=subprocess.PIPE, text=True)
    for pid in map(int, found.stdout.split()):
        try:
            environment = Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if f"WINEPREFIX={prefix}".encode() in environment:
            return pid
    return None


def wakes(pid):
    """Context switches so far (voluntary and not) of each of the process's threads: {thread: (switches,
    whether it is the service's own)}. Wine names its own threads wine_* and winepulse_*; ours keep the
    program's name."""
    threads = {}
    try:
        tasks = list(Path(f"/proc/{pid}/task").iterdir())
    except OSError:
        return None
    for task in tasks:
        try:
            name = (task / "comm").read_text().strip()
            switches = sum(int(line.split()[1]) for line in (task / "status").read_text().splitlines()
                           if "ctxt_switches" in line)
        except (OSError, ValueError, IndexError):
            continue
        threads[task.name] = (switches, not name.startswith("wine"))
    return threads


def cpu_seconds(pid):
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return None


def seed_settings(install, modes):
    """The modes the service finds stored when it starts (Lighting.xml beside the executable)."""
    strips = "".join(
        f'    <external key="{index}">\n        <mode>{mode}</mode>\n'
        + ("        <enable>1</enable>\n" if index == 0 else "") + "    </external>\n"
        for index, mode in sorted(modes.items()) if index >= 0)
    (install / "Lighting.xml").write_text(
        '<?xml version="1.0" encoding="UTF-8" standalone="no" ?>\n<root>\n'
        f"    <mode>{modes[-1]}</mode>\n    <isenable>1</isenable>\n{strips}</root>\n")


def copy_install(build_dir, install):
    if install.exists():
        shutil.rmtree(install)
    install.mkdir(parents=True)
    for name in ("OvLedService.exe", "ovledctl.exe", "boardctl.exe", "VirtualAcpiServer.exe", "ovio.dll"):
        source = build_dir / "bin" / name
        if not source.exists():
            raise DemoError(f"{source} is missing: build the windows preset first (scripts/run-demo.sh does)")
        shutil.copy2(source, install / name)


def teardown(wine, out_dir, player, keep_running):
    if keep_running:
        say("Leaving the service, the board and the audio running (stop them with scripts/run-demo.sh --stop)")
        return
    say("Stopping and unregistering everything")

    def attempt(step):
        try:
            step()
        except (subprocess.TimeoutExpired, OSError) as error:
            note(f"(teardown step failed: {error})")

    attempt(lambda: wine.system("net", "stop", SERVICE, check=False, timeout=60))
    # The service (the sound server's client) is gone: the sound server stops while the rest goes.
    if player:
        player.stop()
    pulse_stopping = music.stop_pulse(out_dir)
    for step in (lambda: wine.run("OvLedService.exe", "/UnregServer", check=False, quiet=True),
                 lambda: wine.run("boardctl.exe", "stop", check=False, quiet=True),
                 lambda: wine.run("boardctl.exe", "unregister", check=False, quiet=True)):
        attempt(step)
    wine.session(stop=True)
    pulse_stopping.wait()


class Show:
    """The scripted show; notes when each stretch began (this process's monotonic seconds) and the
    service's CPU time then."""

    def __init__(self, args, wine, watcher, pid, player, bursts, server):
        self.args, self.wine, self.watcher, self.pid = args, wine, watcher, pid
        self.player, self.bursts, self.server = player, bursts, server
        self.modes = {-1: 2, 0: 1, 1: 2, 2: 0}
        self.strips_on = True
        self.marks = {}
        self.cpu = {}
        self.wakes = {}
        self.recorder = None
        self.answered_at_end = False

    def mark(self, name):
        self.marks[name] = time.monotonic()
        self.cpu[name] = cpu_seconds(self.pid) if self.pid else None
        self.wakes[name] = wakes(self.pid) if self.pid else None

    def client(self, *commands):
        for command in commands:
            self.wine.run("ovledctl.exe", *command, quiet=True)
            if command[0] in ("brightness", "lights"):
                continue
            if command[0] == "off":
                self.strips_on = False
            elif command[0] == "set":
                self.modes[command[1]] = {"none": 0, "music": 1, "thermal": 2}[command[2]]
                self.strips_on = self.strips_on or command[1] >= 0

    def strips(self, mark, command):
        self.mark(mark)
        self.client(command)

    def half_brightness(self):
        self.mark("brightness")
        self.client(("brightness", 50))

    def lights_off(self):
        self.mark("lights_off")
        self.client(("lights", "off"))

    def lights_on(self):
        self.mark("lights_on")
        self.client(("lights", "on"), ("brightness", 100))

    def all_music(self):
        # The first stretch ends when the switch begins: the service acts on each command before the
        # client tool returns.
        self.mark("switch")
        if self.player:
            self.player.stop()
        self.client(("set", -1, "music"), ("set", 1, "music"), ("set", 2, "music"))
        self.mark("all_music")
        if self.server and not self.args.first_burst_after:
            self.start_bursts()

    def start_bursts(self):
        if self.server:
            self.mark("bursts")
            self.recorder = music.Recorder(self.server)
            self.player.play(self.bursts)

    def thermal_on_strip_1(self):
        latest = self.watcher.latest()
        return bool(latest) and any(led["dev"] == 1 and led["host"] and figures.is_thermal(bytes.fromhex(led["rgb"]))
                                    for led in latest[1]["leds"])

    def silence(self):
        if self.player:
            self.player.stop()
        self.mark("silence")

    def run(self, start_wall):
        plan = schedule(self.args.duration, self.args.first_burst_after)
        duration = plan["end"]
        all_music_at = plan["all_music"]
        # (when, caption, action, timing): the strips go off only once strip 1 has shown its thermal
        # colour (3 s late at the most, on a slow machine), and the steps marked "held" wait as long;
        # "fixed" steps keep their time.
        events = [
            (1.0, "modes through the client tool",
             lambda: self.client(("set", -1, "thermal"), ("set", 0, "music"), ("set", 1, "thermal"),
                                 ("set", 2, "none")), "fixed"),
            (plan["strips_off"], "strips off (-3)", lambda: self.strips("strips_off", ("off", "strips")), "waits"),
            (plan["strips_on"], "strips on again (strip 0 music)",
             lambda: self.strips("strips_on", ("set", 0, "music")), "held"),
            (plan["brightness"], "every colour at half brightness", self.half_brightness, "held"),
            (plan["lights_off"], "every light off", self.lights_off, "held"),
            # The darkness's wake-ups are counted once the sources have stopped.
            (plan["lights_off"] + 1.0, "every light off", lambda: self.mark("dark"), "held"),
            (plan["lights_on"], "lights on again, full brightness", self.lights_on, "held"),
            (all_music_at, "every device in music, loud bursts", self.all_music, "held"),
            *([(plan["bursts"], "every device in music, loud bursts after a silence", self.start_bursts, "held")]
              if self.args.first_burst_after else []),
            (plan["silence"], "every device in music, silence", self.silence, "fixed"),
            # The wake-ups of silence are counted once the colour has faded and its thread has paused.
            (min(plan["silence"] + 1.5, duration - 0.5), "every device in music, silence",
             lambda: self.mark("quiet"), "fixed"),
        ]
        held = 0.0
        view = LiveView(sys.stdout)
        caption = "starting"
        say(f"The show: {duration:.0f} s; thermal and music, then every device in music with loud bursts, "
            f"then in silence" + ("" if self.server else " (no audio)"))
        self.mark("start")
        next_temperature = 0.0
        while True:
            elapsed = time.monotonic() - self.marks["start"]
            if elapsed >= duration:
                break
            if elapsed >= next_temperature and elapsed < all_music_at:
                degrees = 20.0 + 50.0 * min(1.0, elapsed / all_music_at)
                self.wine.run("boardctl.exe", "temperature", f"{degrees:.1f}", quiet=True)
                next_temperature += 1.0
            while events and elapsed >= events[0][0] + (0.0 if events[0][3] == "fixed" else held):
                when, next_caption, action, timing = events[0]
                if timing == "waits":
                    if not self.thermal_on_strip_1() and elapsed < when + 3.0:
                        break
                    held = elapsed - when
                events.pop(0)
                caption = next_caption
                action()
            sample = self.watcher.latest()
            if sample:
                view.draw(time.monotonic() - start_wall, sample[1], self.modes, self.strips_on, caption)
            time.sleep(0.1)
        # A slow machine may reach the end with steps left: they still come, so every stretch exists.
        for _, _, action, _ in events:
            action()
        self.mark("end")
        try:
            self.wine.run("ovledctl.exe", "status", quiet=True, timeout=20)
            self.answered_at_end = True
        except (DemoError, subprocess.TimeoutExpired):
            self.answered_at_end = False
        if self.recorder:
            self.recorder.stop()


def analyse(samples, show, start_wall, clock):
    """Figures and facts from everything the board saw."""
    offset, precision = clock["offset"], clock["precision"]

    def board(t):
        return t * 1e6 + offset

    marks = show.marks
    start, switch, all_music, silence, end = (board(marks[k]) for k in ("start", "switch", "all_music", "silence",
                                                                        "end"))
    trace, lost = figures.trace_of(samples)
    writes = figures.colour_writes(trace)
    facts = {"clock": clock, "lost": lost, "thermal_seen": {}, "strip2_written": False}

    def cpu_percent(a, b):
        if show.cpu.get(a) is None or show.cpu.get(b) is None:
            return None
        return 100.0 * (show.cpu[b] - show.cpu[a]) / max(1e-6, marks[b] - marks[a])

    def wake_rates(a, b):
        """Per second: the whole process's context switches and its own threads'; a thread that began in
        between counts from zero, one that ended is left out."""
        before, after = show.wakes.get(a), show.wakes.get(b)
        if before is None or after is None:
            return None
        seconds = max(1e-6, marks[b] - marks[a])
        deltas = [(count - before.get(tid, (0, own))[0], own) for tid, (count, own) in after.items()]
        return sum(d for d, _ in deltas) / seconds, sum(d for d, own in deltas if own) / seconds

    facts["cpu"] = {"thermal": cpu_percent("start", "switch"), "loud": cpu_percent("all_music", "silence"),
                    "silence": cpu_percent("quiet", "end"), "show": cpu_percent("start", "end"),
                    "dark": cpu_percent("dark", "lights_on")}
    facts["wakes"] = {"loud": wake_rates("all_music", "silence"), "silence": wake_rates("quiet", "end"),
                      "dark": wake_rates("dark", "lights_on")}
    facts["stretches"] = {name: ((marks[a] - marks["start"]), (marks[b] - marks["start"]))
                          for name, a, b in (("thermal", "start", "switch"), ("loud", "all_music", "silence"),
                                             ("silence", "quiet", "end"), ("dark", "dark", "lights_on"),
                                             ("half", "brightness", "lights_off"))}

    # The brightness step: what the thermal devices were given at half brightness (the thermal colour
    # always has a channel at 255, which half brightness makes 128). The step repaints them at once.
    half, dark_from, lit = board(marks["brightness"]), board(marks["lights_off"]), board(marks["lights_on"])
    facts["half_brightest"] = {d: [max(c) for m, dev, c in writes if dev == d and half <= m < dark_from]
                               for d in (-1, 1)}
    # The lights-off stretch: every device dark on the board, from a second after it began.
    dark_samples = [s for _, s in samples if dark_from + 1e6 <= s["now"] < lit]
    facts["dark_samples"] = len(dark_samples)
    facts["lit_during_dark"] = sorted({figures.device_name(led["dev"]) for s in dark_samples for led in s["leds"]
                                       if led["rgb"] != "000000"})
    # And back: the thermal devices at full brightness within 1.5 s of the lights coming on.
    facts["relit"] = {d: next(((m - lit) / 1e6 for m, dev, c in writes if dev == d and lit <= m and max(c) == 255),
                              None) for d in (-1, 1)}

    # Stretch 1: thermal colours on the thermal devices, nothing on strip 2 (off) but the darkness of the
    # lights-off stretch (and the relighting that gives it back, within a second).
    dark = (board(marks["lights_off"]), board(marks["lights_on"]) + 1e6)
    for _, sample in samples:
        if sample["now"] >= switch:
            break
        for led in sample["leds"]:
            if led["host"] and figures.is_thermal(bytes.fromhex(led["rgb"])):
                facts["thermal_seen"][led["dev"]] = True
            if led["dev"] == 2 and led["host"] and not dark[0] <= sample["now"] < dark[1]:
                facts["strip2_written"] = True
    facts["strip2_written"] |= any(d == 2 and m < switch and not dark[0] <= m < dark[1] for m, d, _ in writes)
    facts["thermal_rates"] = figures.writes_per_device(writes, DEVICES, start, switch)

    # Stretch 2: every device in music. With sound, the loud bursts as the recorder heard them.
    bursts, block = show.recorder.bursts() if show.recorder else ([], None)
    # A burst that the silence cut short counts up to the cut.
    facts["bursts"] = [(board(a), min(board(b), silence)) for a, b in bursts if all_music <= board(a) < silence]
    facts["monitor_block_ms"] = block * 1000 if block else None
    spans = [(a, b) for a, b in facts["bursts"]] or [(all_music, silence)]
    facts["loud"] = figures.loud_music(writes, DEVICES, spans)
    facts["loud_seconds"] = sum(b - a for a, b in spans) / 1e6
    facts["delays"] = figures.onset_delays(writes, DEVICES, [a for a, _ in facts["bursts"]])
    facts["first_burst_after"] = show.args.first_burst_after
    # The music's fade after a burst counts too: thermal never fades.
    facts["distinct"] = {d: figures.most_colours_within(writes, d, all_music, end, 3e6) for d in DEVICES}
    facts["music_writes"] = {d: [c for m, dev, c in writes if dev == d and all_music + 0.5e6 <= m < silence]
                             for d in DEVICES}

    # Stretch 3: silence, from a second after the music stopped (the colour has faded by then).
    quiet = silence + 1e6
    facts["silence_calls"], facts["silence_seconds"], _ = figures.counter_rates(samples, quiet, end)
    facts["silence_rates"] = figures.writes_per_device(writes, DEVICES, quiet, end)
    facts["silence_strip_items"] = figures.item_writes_per_strip(trace, quiet, end)

    # The whole show.
    calls, _, failed = figures.counter_rates(samples, start, end)
    facts["calls_per_second"], facts["failed_calls"] = sum(calls.values()), failed

    # From the service's start to its stored modes being applied: every device with a mode handed to the
    # service (host control on) and the first music colour on strip 0.
    started = board(start_wall)
    handed, first_music = {}, None
    for micros, kind, target, value, detail in trace:
        if micros < started:
            continue
        if kind == figures.TRACE_ITEM_WRITE and target == figures.ITEM_HOST_CONTROL and value == 1:
            handed.setdefault(-1, micros)
        if kind == figures.TRACE_ITEM_WRITE and target == figures.ITEM_STRIP_HOST_CONTROL and value == 1:
            handed.setdefault(detail >> 8, micros)
        if kind == figures.TRACE_ITEM_WRITE and target == figures.ITEM_STRIP_COLOUR and (detail >> 8) == 0:
            first_music = first_music or micros
    facts["applied_after_start"] = ((max(max(handed[d] for d in (-1, 0, 1)), first_music) - started) / 1e6
                                    if all(d in handed for d in (-1, 0, 1)) and first_music else None)
    first_thermal = next((m for m, kind, *_ in trace if m >= started and kind == figures.TRACE_EC_WRITE), None)
    facts["first_thermal_after_start"] = (first_thermal - started) / 1e6 if first_thermal else None
    # How long before the show's end the service last wrote to the board: a service that stopped driving
    # the LEDs (a hang) shows up here even when every mode was seen working earlier.
    facts["quiet_before_end"] = (end - trace[-1][0]) / 1e6 if trace else None
    # The music fades to black after the silence began: a service that hung earlier wrote nothing then.
    facts["written_in_silence"] = bool(trace) and trace[-1][0] >= silence
    facts["answered_at_end"] = show.answered_at_end
    facts["precision_ms"] = precision / 1000
    return facts


def print_summary(facts, picture, audio):
    name = figures.device_name
    say("What the board saw")
    clock = facts["clock"]
    note(f"board clock: this process's clock plus an offset known to +/-{clock['precision'] / 1000:.3f} ms "
         f"(it moved {clock['drift'] / 1000:+.3f} ms over the show)")
    if facts["lost"]:
        note(f"(the watcher lost {facts['lost']} trace entries to the ring: the rates below are low)")

    def stretch(key, text):
        begin, end = facts["stretches"][key]
        cpu = facts["cpu"][key]
        note(f"{text} ({begin:.1f}-{end:.1f} s); service CPU "
             + (f"{cpu:.1f} % of a core" if cpu is not None else "(not measured)"))

    def wake_line(key):
        rates = facts["wakes"].get(key)
        if rates:
            note(f"   context switches per second: the service process {rates[0]:.0f}, its own threads {rates[1]:.0f}"
                 " (the rest are Wine's: its thread pool and audio driver)")

    stretch("thermal", "1. thermal on the onboard zone and strip 1, music on strip 0")
    note("   colour writes per second: " + ", ".join(f"{name(d)} {r:.1f}" for d, r in facts["thermal_rates"].items()))
    brightest = facts["half_brightest"]
    note("   at half brightness the thermal colours' brightest channel was "
         + ", ".join(f"{name(d)} {'/'.join(map(str, v)) or '-'}" for d, v in brightest.items()) + " (full: 255)")
    stretch("dark", "   every light off")
    note(f"   devices lit meanwhile: {', '.join(facts['lit_during_dark']) or 'none'} "
         f"({facts['dark_samples']} board samples)")
    wake_line("dark")
    relit = facts["relit"]
    note("   lights on -> full thermal colour: " + ", ".join(
        f"{name(d)} {t * 1000:.0f} ms" if t is not None else f"{name(d)} not seen" for d, t in relit.items()))

    bursts = len(facts["bursts"])
    stretch("loud", "2. every device in music, " + (f"{bursts} loud burst{'s' if bursts != 1 else ''}, "
                                                    f"{facts['loud_seconds']:.1f} s loud" if bursts else "no sound"))
    note("   device     colour writes/s   tick mean   tick p99   (" + ("during the bursts" if facts["bursts"]
                                                                      else "over the stretch") + ")")
    for device, f in facts["loud"].items():
        mean = f"{f['tick_mean']:7.1f} ms" if f["tick_mean"] is not None else "      -   "
        p99 = f"{f['tick_p99']:7.1f} ms" if f["tick_p99"] is not None else "      -   "
        note(f"   {name(device):8} {f['rate']:13.1f}    {mean}  {p99}")
    delays = facts["delays"]
    if delays and facts.get("first_burst_after"):
        note(f"   the first burst, after {facts['first_burst_after']:.0f} s of silence: {delays[0]:.1f} ms "
             "from its first loud sample to the first changed colour")
    if delays:
        block = facts["monitor_block_ms"]
        note(f"   first loud audio -> first changed colour on the board: median {figures.median(delays):.1f} ms "
             f"({len(delays)} of {bursts}, {min(delays):.1f}-{max(delays):.1f} ms);")
        note(f"   the audio's time is known to about one monitor block ({block:.1f} ms), the board clock's to "
             f"{facts['precision_ms']:.3f} ms")
    elif facts["bursts"]:
        note("   first loud audio -> first changed colour: no colour changed within a second of any burst")

    stretch("silence", "3. every device in music, silence")
    if facts["silence_seconds"] < 1.0:
        note("   (too short to measure: the figures start a second after the music stopped)")
    calls = facts["silence_calls"] if facts["silence_seconds"] >= 1.0 else {}
    total = sum(calls.values())
    if calls:
        note(f"   firmware calls per second: {total:.1f} = {total / len(DEVICES):.1f} per music device ("
             + ", ".join(f"{m} {r:.1f}" for m, r in calls.items()) + ")")
        rates = facts["silence_rates"]
        note(f"   colour writes per second: onboard {rates[-1]:.1f} (EC registers, no firmware call), "
             + ", ".join(f"{name(d)} {rates[d]:.1f}" for d in DEVICES if d >= 0))
        items = facts["silence_strip_items"]
        if items:
            note("   strip item writes per second (selects and colours): "
                 + ", ".join(f"strip {s} {r:.1f}" for s, r in sorted(items.items())))
    wake_line("silence")

    cpu = facts["cpu"]["show"]
    note(f"whole show: bridge calls per second {facts['calls_per_second']:.1f} (failed calls: {facts['failed_calls']});"
         " service CPU " + (f"{cpu:.1f} % of a core" if cpu is not None else "(the service process was not found)"))
    applied = facts["applied_after_start"]
    note(f"service start -> stored modes applied:        {applied:7.2f} s" if applied is not None
         else "service start -> stored modes applied: (not seen)")
    thermal = facts.get("first_thermal_after_start")
    if thermal is not None:
        note(f"service start -> first thermal colour:        {thermal:7.2f} s")
    note(f"music: {'generated music through PulseAudio' if audio else 'no audio (the music colour stays dark)'}")
    say(f"Timeline picture: {picture}")


def check(facts, audio):
    """What the board must have shown. Music is told from thermal by its colours: with sound, music
    gives a device many colours within seconds (thermal gives one every 3 s, at most three within
    3 s counting a restart); without sound, music writes dark colours (thermal colours always have a
    channel at 255)."""
    problems = []
    name = figures.device_name
    for device in (-1, 1):
        if not facts["thermal_seen"].get(device):
            problems.append(f"{name(device)} never showed a thermal colour")
    if facts["strip2_written"]:
        problems.append("strip 2 was written while it was off")
    if audio and not facts["bursts"]:
        problems.append("the recorder heard no loud burst on the sink's monitor")
    for device in DEVICES:
        if audio:
            distinct = facts["distinct"][device]
            if distinct < 4:
                problems.append(f"{name(device)} in music showed at most {distinct} colours within 3 s "
                                "(music changes its colour with the sound)")
        else:
            written = facts["music_writes"][device]
            if not written:
                problems.append(f"{name(device)} got no music colour writes")
            elif any(max(c) >= 128 for c in written):
                problems.append(f"{name(device)} showed a bright colour in music mode without sound")
    for device, brightest in facts["half_brightest"].items():
        if not brightest or brightest[-1] != 128:
            problems.append(f"{name(device)} at half brightness was given colours with a brightest channel of "
                            f"{brightest or 'nothing'} (a thermal colour at half brightness has 128)")
    if not facts["dark_samples"]:
        problems.append("the board was not sampled while the lights were off")
    if facts["lit_during_dark"]:
        problems.append(f"{', '.join(facts['lit_during_dark'])} lit while every light was off")
    for device, seconds in facts["relit"].items():
        if seconds is None or seconds > 1.5:
            problems.append(f"{name(device)} did not show its full thermal colour within 1.5 s of the lights coming on")
    # In silence the service writes nothing once the colour has faded and its thread has paused, so a
    # hang is told by the fade's writes after the silence began and by a call answered at the end.
    if not facts["written_in_silence"]:
        problems.append("the service wrote nothing to the board after the music stopped (no fade to black)")
    if not facts["answered_at_end"]:
        problems.append("the service did not answer a call at the end of the show")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--duration", type=float, default=60.0, help="length of the show in seconds (60)")
    parser.add_argument("--profile", default="switch-strips",
                        help="board profile: switch-strips (default), no-switch, no-sensor, ...")
    parser.add_argument("--no-audio", action="store_true", help="no PulseAudio and no generated music")
    parser.add_argument("--keep-running", action="store_true", help="leave everything running at the end")
    parser.add_argument("--stop", action="store_true", help="stop what a --keep-running show left behind")
    parser.add_argument("--first-burst-after", type=float, default=0.0, metavar="S",
                        help="S seconds of silence between the switch to music and the first loud burst "
                             "(the show grows by as much)")
    parser.add_argument("--check", action="store_true",
                        help="fail unless the board showed what the show asked for (used by the tests)")
    parser.add_argument("--build-dir", default=str(ROOT / "build/windows"))
    parser.add_argument("--out-dir", default=str(ROOT / "build/demo"))
    args = parser.parse_args()

    build_dir, out_dir = Path(args.build_dir), Path(args.out_dir)
    install = out_dir / "install"
    out_dir.mkdir(parents=True, exist_ok=True)
    wine = Wine(out_dir, install, {})
    if args.stop:
        teardown(wine, out_dir, None, keep_running=False)
        return 0

    say("Cleaning up after any earlier run")
    music.stop_pulse(out_dir).wait()
    wine.session(stop=True)
    copy_install(build_dir, install)

    player = None
    server = None
    interrupted = False
    try:
        # PulseAudio starts while the Wine session boots (its address is known beforehand, and the
        # session's services must carry it to hand it to the service).
        pulse = None
        if not args.no_audio:
            say("Starting a private PulseAudio with a null sink and generating the music")
            pulse = music.PulseStart(out_dir)
            voices = music.write_voices(out_dir, args.duration + 30)
            bursts = music.write_bursts(out_dir, args.duration)
        wine = Wine(out_dir, install, {"PULSE_SERVER": pulse.server} if pulse else {})
        say("Preparing the Wine prefix (null graphics driver, warm session)")
        wine.session()
        if pulse:
            why = pulse.wait()
            if why is None:
                server = pulse.server
                player = music.Player(server)
                player.play(voices)
            else:
                note(f"PulseAudio could not start here; the show runs without music: {why}")

        say(f"Starting the virtual board (profile {args.profile})")
        wine.run("boardctl.exe", "register", install / "VirtualAcpiServer.exe", quiet=True)
        wine.run("boardctl.exe", "start", quiet=True)
        wine.run("boardctl.exe", "profile", args.profile, quiet=True)
        wine.run("boardctl.exe", "temperature", "20", quiet=True)
        clock = BoardClock(wine)
        offset, precision = clock.measure()
        watcher = Watcher(wine.popen("boardctl.exe", "watch", "100"), out_dir / "board.jsonl")
        if not watcher.wait_first():
            raise DemoError("the board watcher produced no sample")

        say("Registering the service (/Service) and starting it through the service manager")
        seed_settings(install, {-1: 2, 0: 1, 1: 2, 2: 0})
        wine.run("OvLedService.exe", "/Service", quiet=True)
        start_wall = time.monotonic()
        wine.system("net", "start", SERVICE)

        show = Show(args, wine, watcher, service_pid(wine.env["WINEPREFIX"]), player,
                    bursts if server else None, server)
        show.run(start_wall)
        time.sleep(0.3)
        samples = watcher.all()
        watcher.stop()
        offset_after, _ = clock.measure()
        clock.stop()

        facts = analyse(samples, show, start_wall,
                        {"offset": offset, "precision": precision, "drift": offset_after - offset})
        picture = out_dir / "timeline.svg"
        marks = show.marks
        timeline.write_svg(picture, samples, start_wall, marks["start"], marks["end"],
                           {-1: "onboard: thermal, music", 0: "strip 0: music", 1: "strip 1: thermal, music",
                            2: "strip 2: off, music"},
                           strips_off=(marks["strips_off"], marks["strips_on"]),
                           stretches=((marks["brightness"], marks["lights_off"], "50 %"),
                                      (marks["lights_off"], marks["lights_on"], "lights off"),
                                      (marks["all_music"], marks["silence"], "all music, loud bursts"),
                                      (marks["silence"], marks["end"], "all music, silence")))
        print_summary(facts, picture, bool(server))
        problems = check(facts, bool(server)) if args.check else []
        for problem in problems:
            print(f"CHECK FAILED: {problem}", flush=True)
        if args.check and not problems:
            say("Check passed: thermal colours on the onboard zone and strip 1, nothing on strip 2 while it was "
                "off, half brightness, every light off and back, music's colours on every device "
                + ("(many within seconds)" if server else "(dark: no sound)"))
        return 1 if problems else 0
    except KeyboardInterrupt:
        interrupted = True
        print("\ninterrupted", flush=True)
        return 130
    except (DemoError, subprocess.SubprocessError, OSError) as error:
        print(f"ERROR: {error}", file=sys.stderr, flush=True)
        return 1
    finally:
        # Ctrl-C during the teardown itself must not leave things half stopped.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        teardown(wine, out_dir, player, keep_running=args.keep_running and not interrupted)


if __name__ == "__main__":
    sys.exit(main())
