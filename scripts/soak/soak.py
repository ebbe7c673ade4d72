#!/usr/bin/env python3
"""The soak-and-fault run: the service under load and faults for a set time, checked against limits.

The service runs as on a user's machine (registered with /Service, started by the service manager) on
the out-of-process virtual board, in a private Wine prefix (build/soak/wineprefix) with a private
PulseAudio playing generated music into a null sink, while the CPU temperature ramps. Eight COM clients
(ovledsoak.exe clients) set and read modes at random; a test-only service (ovledsoak.exe power-service)
sends a suspend/resume pair to the service's power window every 5 s. Faults come on a schedule: the
firmware server ends and comes back, slows down, hangs, port I/O fails, the EC stays busy, the audio sink
goes away and comes back, Lighting.xml turns read-only; the firmware server is killed last. After each
fault clears, the board must show again what the modes say. At the end a table of figures and limits is
printed, and the exit status is 1 when a limit is broken.

Run it through scripts/soak.sh, which builds first. The machinery (Wine, the board watcher, the audio,
the installation) is the demo's (scripts/demo/demo.py).
"""

import argparse
import csv
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ beside the demo in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "demo"))
import demo  # noqa: E402  (the main job's machinery)
import figures  # noqa: E402
import music  # noqa: E402

ROOT = demo.ROOT
SERVICE = demo.SERVICE
STRIPS = 3  # the switch-strips profile
DEVICES = [-1] + list(range(STRIPS))
HANG_MS = 5000.0
KILLED_ANSWER_MS = 1000.0
# A COM call while the firmware server hangs: the service answers from what it holds (the benchmark's
# figure is under a millisecond; Wine's COM and a loaded machine make up the rest).
HUNG_ANSWER_MS = 1000
STOP_LIMIT_S = 30.0
MUSIC_RESUME_LIMIT_S = 2.0
GROWTH_LIMIT = 0.05
# A run without a second whole cycle compares two moments whose lighting differs (music on or off means a
# capture stream and Wine's audio threads or none, about 3 threads and 12 descriptors of the 150): it can
# catch a leak, not a few percent. The long run's limit is the 5 % above.
SHORT_RUN_GROWTH_LIMIT = 0.15
POWER_INTERVAL_MS = 5000
# What a check waits for at most, from the moment the fault clears: a thermal device is painted once a
# period (3 s), a music device every 10 ms while its colour changes.
THERMAL_BOUND_S = 6.0
MUSIC_BOUND_S = 4.0
NONE_WINDOW_S = 1.5


def say(text):
    demo.say(text)


def note(text):
    demo.note(text)


class SoakError(Exception):
    pass


def windows_path(path):
    """The Z: drive path under which Wine programs see a Linux path."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wine_process(prefix, exe_name):
    """The Linux process of a Windows program of this prefix (other prefixes may run the same program): the
    youngest live one, since an instance that was just stopped may not have gone yet."""
    wanted = f"WINEPREFIX={prefix}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if exe_name.encode() not in (entry / "cmdline").read_bytes():
                continue
            if wanted not in (entry / "environ").read_bytes().split(b"\0"):
                continue
            fields = (entry / "stat").read_text().rsplit(")", 1)[1].split()
            if fields[0] not in ("Z", "X"):
                found.append((int(fields[19]), int(entry.name)))  # start time, pid
        except (OSError, IndexError, ValueError):
            continue
    return max(found)[1] if found else None


def wine_processes(prefix):
    """Every Linux process of this prefix: what a crashed Wine server leaves behind is no one else's."""
    wanted = f"WINEPREFIX={prefix}".encode()
    found = []
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and wanted in (entry / "environ").read_bytes().split(b"\0"):
                found.append(int(entry.name))
        except OSError:
            continue
    return found


def count_entries(pid, folder):
    """Open file descriptors ("fd") or threads ("task") of a process."""
    try:
        return len(os.listdir(f"/proc/{pid}/{folder}"))
    except OSError:
        return None


def private_kib(pid):
    """Resident anonymous memory (RssAnon): the Linux view of the process's private bytes."""
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    except OSError:
        pass
    return None


class Audio:
    """The demo's private PulseAudio and music, played in a loop, and the null sink taken away and back."""

    def __init__(self, out_dir):
        self.out_dir = out_dir
        pulse = music.PulseStart(out_dir)
        failure = pulse.wait()
        if failure:
            raise SoakError(f"PulseAudio could not start ({failure}): the soak run needs music")
        self.env = {"PULSE_SERVER": pulse.server}
        self.music = music.write_voices(out_dir, 60)
        self.player = music.Player(pulse.server)
        self.player.play(self.music)
        self.pa_env = dict(os.environ, PA_HOME=str(out_dir / "pulse"), **self.env)
        self.sink_arguments = None
        self.last_try = 0.0

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.pa_env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True, timeout=20)

    def keep_playing(self):
        """Starts the music again when it ended (its file ran out, or the sink went away under it)."""
        if self.player.process.poll() is None or time.monotonic() - self.last_try < 0.5:
            return
        self.last_try = time.monotonic()
        self.player.play(self.music)

    def remove_sink(self):
        for line in self.pactl("list", "short", "modules").stdout.splitlines():
            fields = line.split("\t")
            if len(fields) >= 3 and fields[1] == "module-null-sink":
                self.sink_arguments = fields[2].split()
                if self.pactl("unload-module", fields[0]).returncode != 0:
                    raise SoakError("the null sink could not be unloaded")
                return
        raise SoakError("no null sink to unload")

    def restore_sink(self):
        done = self.pactl("load-module", "module-null-sink", *self.sink_arguments)
        if done.returncode != 0:
            raise SoakError(f"the null sink could not be loaded again: {done.stdout.strip()}")
        self.pactl("set-default-sink", "vsink")
        self.pactl("set-default-source", "vsink.monitor")
        # The keep-alive recorder ended with the sink; without it the first packets come seconds late.
        subprocess.run([str(ROOT / "scripts/pa-start.sh"), "--keepalive"], env=self.pa_env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        self.last_try = 0.0
        self.keep_playing()

    def stop(self):
        self.player.stop()
        music.stop_pulse(self.out_dir).wait(timeout=30)


class Soak:
    def __init__(self, args, out_dir, install):
        self.args = args
        self.out_dir = out_dir
        self.install = install
        self.control = out_dir / "control"
        self.wine = None
        self.audio = None
        self.watcher = None
        self.clients = None
        self.power_installed = False
        self.next_temperature = 0.0
        self.harness_failures = []  # what the temperature steps that failed said
        self.temperature_step = 0
        self.memory = []  # (monotonic, RssAnon KiB, CPU seconds, open fds, threads)
        self.next_memory = 0.0
        self.unix_pid = None
        self.thermal = {}
        self.checks = []  # dicts: fault, cycle, problems (none: passed), resume_s
        self.hang_windows = []  # [epoch ms the server began to hang, epoch ms it stopped]
        self.resume_times = {"server-restart": [], "server-unregistered": [], "audio-sink": []}
        self.plan_number = 0
        self.failures = []  # setup or protocol failures that break the run

    # ---- running things -------------------------------------------------------------------------------

    def run(self, program, *args, check=True, timeout=120):
        return self.wine.run(program, *args, check=check, timeout=timeout, quiet=True)

    def boardctl(self, *args, check=True):
        return self.run("boardctl.exe", *args, check=check)

    def event(self, text):
        note(f"t={time.monotonic() - self.started:6.1f}s  {text}")

    def tick(self):
        """What goes on all the time: the temperature ramp, the music, the service's memory and CPU."""
        now = time.monotonic()
        if now >= self.next_temperature:
            # A triangle between 25 and 65 degrees, 1 degree a second: every thermal period shows a new colour.
            step = self.temperature_step % 80
            degrees = 25 + (step if step < 40 else 80 - step)
            # The ramp is the run's own housekeeping: a failed step is counted and shown, and the next
            # second tries again, rather than ending the run.
            try:
                self.boardctl("temperature", degrees)
            except demo.DemoError as error:
                self.harness_failures.append(str(error))
            self.temperature_step += 1
            self.next_temperature = now + 1.0
        self.audio.keep_playing()
        if now >= self.next_memory and self.unix_pid:
            self.memory.append((now, private_kib(self.unix_pid), demo.cpu_seconds(self.unix_pid),
                                count_entries(self.unix_pid, "fd"), count_entries(self.unix_pid, "task")))
            self.next_memory = now + 1.0

    def idle(self, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.tick()
            time.sleep(min(0.1, max(0.0, end - time.monotonic())))

    def wait_for(self, condition, timeout):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if condition():
                return True
            self.tick()
            time.sleep(0.05)
        return condition()

    # ---- setup and teardown ---------------------------------------------------------------------------

    def setup(self):
        say("Cleaning up after any earlier run")
        music.stop_pulse(self.out_dir).wait(timeout=30)
        demo.Wine(self.out_dir, self.install, {}).session(stop=True)
        self.end_leftovers()
        demo.copy_install(Path(self.args.build_dir), self.install)
        shutil.copy2(Path(self.args.build_dir) / "bin" / "ovledsoak.exe", self.install / "ovledsoak.exe")
        if self.control.exists():
            shutil.rmtree(self.control)
        self.control.mkdir(parents=True)
        for name in ("power.log", "clients.json", "commands.log"):
            (self.out_dir / name).unlink(missing_ok=True)

        say("Starting a private PulseAudio with a null sink and generated music")
        self.audio = Audio(self.out_dir)
        self.wine = demo.Wine(self.out_dir, self.install, self.audio.env)
        say("Preparing the Wine prefix (null graphics driver, warm session)")
        self.wine.session()

        # An interrupted run may have left its registrations in the prefix; an automatic-start service
        # is started again by the session's boot.
        self.wine.system("net", "stop", SERVICE, check=False, timeout=60)
        self.run("OvLedService.exe", "/UnregServer", check=False)
        self.run("ovledsoak.exe", "power-remove", check=False)

        say("Starting the virtual board")
        self.boardctl("register", self.install / "VirtualAcpiServer.exe")
        self.boardctl("start")
        self.boardctl("profile", "switch-strips")
        self.boardctl("temperature", "25")
        self.thermal = {int(k): v for k, v in json.loads(self.run("ovledsoak.exe", "thermal-colours", 0, 120)).items()}
        self.watcher = demo.Watcher(self.wine.popen("boardctl.exe", "watch", "100"), self.out_dir / "board.jsonl")
        if not self.watcher.wait_first():
            raise SoakError("the board watcher produced no sample")

        say("Registering the service (/Service) and starting it through the service manager")
        demo.seed_settings(self.install, {-1: 2, 0: 1, 1: 2, 2: 0})
        self.run("OvLedService.exe", "/Service")
        self.wine.system("net", "start", SERVICE)
        self.unix_pid = wine_process(self.out_dir / "wineprefix", "OvLedService.exe")
        if not self.unix_pid:
            raise SoakError("the service's process was not found")

        say("Starting the power broadcaster (a test-only service) and the COM clients")
        self.run("ovledsoak.exe", "power-install", windows_path(self.out_dir / "power.log"), POWER_INTERVAL_MS)
        self.power_installed = True
        with open(self.out_dir / "clients.json", "w") as out:
            self.clients = subprocess.Popen(
                ["wine", str(self.install / "ovledsoak.exe"), "clients", "--threads", "8", "--seed", str(self.args.seed),
                 "--seconds", str(self.args.seconds + 600), "--strips", str(STRIPS),
                 "--control", windows_path(self.control)],
                env=self.wine.env, cwd=self.install, stdin=subprocess.DEVNULL, stdout=out,
                stderr=subprocess.STDOUT)

    def teardown(self):
        say("Stopping and unregistering everything")
        steps = []
        if self.clients and self.clients.poll() is None:
            (self.control / "stop").touch()
            steps.append(lambda: self.clients.wait(timeout=30))
        if self.power_installed:
            steps.append(lambda: self.run("ovledsoak.exe", "power-remove", check=False))
        steps += [lambda: self.wine.system("net", "stop", SERVICE, check=False, timeout=60),
                  lambda: self.run("OvLedService.exe", "/UnregServer", check=False),
                  lambda: self.boardctl("stop", check=False),
                  lambda: self.boardctl("unregister", check=False)]
        for step in steps if self.wine else []:
            try:
                step()
            except (subprocess.SubprocessError, OSError) as error:
                note(f"(teardown step failed: {error})")
        if self.watcher:
            self.watcher.stop()
        with open(self.out_dir / "process.jsonl", "w") as out:
            for at, kib, cpu, fds, threads in self.memory:
                out.write(json.dumps({"at": at, "rss_anon_kib": kib, "cpu_s": cpu, "fds": fds, "threads": threads})
                          + "\n")
        if self.clients and self.clients.poll() is None:
            self.clients.kill()
        if self.audio:
            self.audio.stop()
        if self.wine:
            self.wine.session(stop=True)
        self.end_leftovers()

    def end_leftovers(self):
        """Processes of this prefix that outlived its session (a crashed Wine server cannot end them)."""
        for pid in wine_processes(self.out_dir / "wineprefix"):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass

    # ---- the clients' hold and the known modes of a check ---------------------------------------------

    def hold_clients(self):
        (self.control / "hold").touch()
        if not self.wait_for(lambda: (self.control / "held").exists(), 15):
            self.failures.append("the COM clients did not hold their sets within 15 s")

    def release_clients(self):
        (self.control / "hold").unlink(missing_ok=True)
        self.wait_for(lambda: not (self.control / "held").exists(), 5)

    def next_plan(self):
        """Modes for the onboard zone and the strips with every mode present, a music strip among them, and
        each device in each mode over three plans."""
        k = self.plan_number
        self.plan_number += 1
        return {device: (2, 1, 0)[(position + k) % 3] for position, device in enumerate(DEVICES)}

    def set_modes(self, plan):
        text = self.run("ovledsoak.exe", "modes", "--set", ",".join(str(plan[d]) for d in DEVICES), check=False)
        try:
            answer = json.loads(text.strip().splitlines()[-1])
            return {int(k): v for k, v in answer["modes"].items()}, answer["result"]
        except (ValueError, IndexError, KeyError):
            return {}, text

    # ---- the board --------------------------------------------------------------------------------------

    def samples_since(self, since):
        return [(arrived, sample) for arrived, sample in self.watcher.all() if arrived >= since]

    def board_micros(self, at):
        """The board clock at a moment of this process's monotonic clock: the samples that arrived fastest
        tell the offset best."""
        samples = self.watcher.all()[-50:]
        offset = min(arrived - sample["now"] / 1e6 for arrived, sample in samples)
        return (at - offset) * 1e6

    @staticmethod
    def colour_writes(samples, device, after_micros):
        """(board micros, value, target) of every colour write to a device after a moment."""
        writes = []
        for _, sample in samples:
            for micros, kind, target, value, detail in sample["trace"]:
                if micros < after_micros:
                    continue
                if device == -1 and ((kind == figures.TRACE_EC_WRITE and target in figures.EC_COLOUR_REGISTERS)
                                     or (kind == figures.TRACE_ITEM_WRITE and target == figures.ITEM_ONBOARD_COLOUR)):
                    writes.append((micros, value, target))
                elif (device >= 0 and kind == figures.TRACE_ITEM_WRITE and target == figures.ITEM_STRIP_COLOUR
                      and detail >> 8 == device):
                    writes.append((micros, value, target))
        return sorted(writes)

    @staticmethod
    def led(sample, device):
        return next((led for led in sample["leds"] if led["dev"] == device), None)

    def thermal_shown(self, samples, device, after_micros):
        """A sample that shows the thermal colour of the temperature at a thermal write made after the moment."""
        writes = self.colour_writes(samples, device, after_micros)
        if not writes:
            return False
        for _, sample in samples:
            earlier = [micros for micros, _, _ in writes if micros <= sample["now"]]
            led = self.led(sample, device)
            if not earlier or not led or not led["host"]:
                continue
            write = earlier[-1]
            degrees = {s["temp"] // 10 for _, s in samples if write - 2e6 <= s["now"] <= write + 0.5e6}
            if led["rgb"] in {self.thermal.get(d) for d in degrees}:
                return True
        return False

    def music_resumed(self, samples, device, after_micros):
        """When the device's colour first moved after the moment (None: not yet), and whether it has received
        changing colours. A colour that stands still is no sign of music: without packets the bands keep
        their last values, and the service refreshes that colour once a second."""
        writes = self.colour_writes(samples, device, after_micros)
        first_value = {}
        first = None
        for micros, value, target in writes:
            if first_value.setdefault(target, value) != value:
                first = micros
                break
        shown = {self.led(s, device)["rgb"] for _, s in samples
                 if self.led(s, device) and self.led(s, device)["host"] and s["now"] >= after_micros}
        return first, len(writes) >= 3 and len(shown - {"000000"}) >= 2

    def check_board(self, plan, cleared_at):
        """Waits, bounded, until every device shows what its mode says; returns the problems and the music
        resume time (the slowest music device's first colour after the fault cleared)."""
        after = self.board_micros(cleared_at)
        passed = {}
        resume = {}

        def settled():
            samples = self.samples_since(cleared_at - 2.5)
            elapsed = time.monotonic() - cleared_at
            for device, mode in plan.items():
                if device in passed:
                    continue
                if mode == 2 and self.thermal_shown(samples, device, after):
                    passed[device] = True
                elif mode == 1:
                    first, changing = self.music_resumed(samples, device, after)
                    if first is not None:
                        resume[device] = (first - after) / 1e6
                    if changing:
                        passed[device] = True
                elif mode == 0 and elapsed >= NONE_WINDOW_S + 0.5:
                    passed[device] = True  # judged below, over the whole window
            return len(passed) == len(plan)

        self.wait_for(settled, max(THERMAL_BOUND_S, MUSIC_BOUND_S))
        problems = []
        samples = self.samples_since(cleared_at + 0.5)
        for device, mode in plan.items():
            name = "onboard" if device == -1 else f"strip {device}"
            if mode == 0:
                counts = [s["writes"][device + 1] for _, s in samples]
                if counts and counts[-1] != counts[0]:
                    problems.append(f"{name} (none) was written {counts[-1] - counts[0]} times")
            elif not passed.get(device):
                # What the board did instead, to tell a service that stopped writing from one whose
                # device was left to the firmware.
                writes = len(self.colour_writes(samples, device, after))
                handed = sum(1 for _, s in samples if (self.led(s, device) or {}).get("host"))
                problems.append(f"{name} ({demo.MODE_NAMES[mode]}) did not show its mode in time "
                                f"({writes} colour writes, under the service's control in {handed} of "
                                f"{len(samples)} samples)")
        music = [resume.get(d) for d, m in plan.items() if m == 1]
        resumed = None if not music or None in music else max(music)
        return problems, resumed

    # ---- the faults -------------------------------------------------------------------------------------

    def settings_file(self):
        return self.install / "Lighting.xml"

    def faults(self):
        """(name, inject, clear) in the order of a cycle. A clear may return a list of problems of its own."""
        read_only = {}

        def make_read_only():
            self.wine.system("attrib", "+r", "Lighting.xml")
            # A save that looked at the file before it turned read-only may still land: it checks, writes
            # and flushes a temporary file, then moves it over. Windows refuses that move onto a read-only
            # file; Wine's does not. What counts is that no save that starts later replaces it.
            self.idle(0.5)
            read_only["content"] = self.settings_file().read_bytes()

        def make_writable():
            unchanged = self.settings_file().read_bytes() == read_only["content"]
            still_marked = not self.settings_file().stat().st_mode & 0o222
            self.wine.system("attrib", "-r", "Lighting.xml")
            return [] if unchanged else ["Lighting.xml was replaced while it was read-only"
                                         + ("" if still_marked else " (and had lost its read-only mark)")]

        def server_gone():
            # Unregistered first: between a stop and an unregistration the service's next activation
            # would start a new server.
            self.boardctl("unregister")
            self.boardctl("stop")

        def server_back():
            self.boardctl("register", self.install / "VirtualAcpiServer.exe")
            # The service's own next activation may start a server at the same moment; under Wine each
            # activation can launch a process, and the one that finds a server running ends at once,
            # which fails the other activation. Either way one server must be running soon.
            self.boardctl("start", check=False)
            if not self.wait_for(lambda: "not running" not in self.boardctl("status", check=False), 10):
                return ["the firmware server did not come back within 10 s"]
            return []

        def hang():
            # Every firmware call waits until the fault clears: the service's workers wait with it, and
            # no COM call may wait for them.
            self.hang_windows.append([time.time() * 1000, None])
            self.boardctl("fault", "hang", "on")

        def unhang():
            self.boardctl("fault", "hang", "off")
            self.hang_windows[-1][1] = time.time() * 1000

        # A server that ends is started again by the service's own next activation (its class is
        # registered as a local server); one that is also unregistered stays away until it is back.
        return [
            ("server-restart", lambda: self.boardctl("stop"), lambda: self.boardctl("start")),
            ("server-unregistered", server_gone, server_back),
            ("server-slow", lambda: self.boardctl("fault", "slow", self.args.slow_ms),
             lambda: self.boardctl("fault", "slow", 0)),
            ("server-hangs", hang, unhang),
            ("port-io-fails", lambda: self.boardctl("fault", "port-io", "on"),
             lambda: self.boardctl("fault", "port-io", "off")),
            ("ec-busy", lambda: self.boardctl("fault", "ec-busy", "on"),
             lambda: self.boardctl("fault", "ec-busy", "off")),
            ("audio-sink", self.audio.remove_sink, self.audio.restore_sink),
            ("settings-read-only", make_read_only, make_writable),
        ]

    def fault_phase(self, name, inject, clear, cycle, seconds):
        self.event(f"{name}: on")
        inject()
        self.idle(seconds)
        # A defined state for the check: the clients hold their sets, and every device gets a known mode
        # while the fault is still on.
        self.hold_clients()
        plan = self.next_plan()
        modes, result = self.set_modes(plan)
        problems = [] if modes == plan else [f"setting the modes {plan} gave {modes} ({result})"]
        # Bounds and resume times count from the moment the clearing began: a new server, for one, is
        # registered some time before "boardctl start" returns.
        cleared_at = time.monotonic()
        cleared = clear()  # a list of problems, where the clearing itself checks something
        problems += cleared if isinstance(cleared, list) else []
        self.event(f"{name}: cleared")
        board_problems, resumed = self.check_board(plan, cleared_at)
        problems += board_problems
        self.release_clients()
        if name in self.resume_times:
            self.resume_times[name].append(resumed)
        self.checks.append({"fault": name, "cycle": cycle, "problems": problems, "resume_s": resumed})
        for problem in problems:
            note(f"    CHECK FAILED after {name}: {problem}")

    def schedule(self):
        total = self.args.seconds
        fault_s = min(10.0, max(1.5, total / 90))
        gap_s = fault_s
        kill_s = min(30.0, max(4.0, total / 20))
        warmup_s = min(10.0, max(5.0, total / 60))
        deadline = self.started + total
        phase_estimate = fault_s + gap_s + 5.0
        self.event(f"warm-up ({warmup_s:.0f} s)")
        self.idle(warmup_s)
        self.cycle_ends = [time.monotonic()]
        self.phase_ends = []
        cycle = 0
        faults = self.faults()
        while True:
            for name, inject, clear in faults:
                if cycle > 0 and time.monotonic() + phase_estimate + kill_s > deadline:
                    break
                self.fault_phase(name, inject, clear, cycle, fault_s)
                self.idle(gap_s)
                self.phase_ends.append(time.monotonic())
            else:
                cycle += 1
                self.cycle_ends.append(time.monotonic())
                continue
            break
        self.cycles = cycle
        self.before_kill = time.monotonic()
        self.kill_epoch_ms = time.time() * 1000
        self.event("firmware server killed (taskkill /f)")
        self.wine.system("taskkill", "/f", "/im", "VirtualAcpiServer.exe", check=False)
        self.idle(max(kill_s, deadline - time.monotonic()))

    # ---- the end ----------------------------------------------------------------------------------------

    def stop_clients(self):
        (self.control / "stop").touch()
        try:
            self.clients.wait(timeout=HANG_MS / 1000 * 2 + 30)
        except subprocess.TimeoutExpired:
            self.failures.append("the COM clients did not end")
            self.clients.kill()
        text = (self.out_dir / "clients.json").read_text(errors="replace")
        lines = [line for line in text.splitlines() if line.startswith("{")]
        if not lines:
            raise SoakError(f"the COM clients printed no figures: {text.strip()[-500:]}")
        return json.loads(lines[-1])

    def check_settings(self):
        """One final change per device, with nothing else writing: the file must say what the service says."""
        self.wine.system("attrib", "-r", "Lighting.xml", check=False)
        plan = self.next_plan()
        reported, result = self.set_modes(plan)
        problems = []
        if reported != plan:
            problems.append(f"the service reports {reported} after setting {plan} ({result})")
        try:
            root = ElementTree.parse(self.settings_file()).getroot()
        except (ElementTree.ParseError, OSError) as error:
            return problems + [f"Lighting.xml does not parse: {error}"], plan

        def number(element, name):
            child = element.find(name) if element is not None else None
            return int(child.text) if child is not None and child.text else 0

        stored = {-1: number(root, "mode")}
        strips = {int(e.get("key")): e for e in root.findall("external")}
        for device in DEVICES[1:]:
            stored[device] = number(strips.get(device), "mode")
        if stored != plan:
            problems.append(f"Lighting.xml holds {stored}, the last change was {plan}")
        if number(root, "isenable") != 1 or number(strips.get(0), "enable") != 1:
            problems.append("Lighting.xml does not have the onboard zone and the strips switched on")
        return problems, plan

    def stop_service(self):
        start = time.monotonic()
        self.wine.system("net", "stop", SERVICE, check=False, timeout=STOP_LIMIT_S * 3)
        seconds = time.monotonic() - start
        probe = json.loads(self.run("ovledsoak.exe", "probe", check=False).strip().splitlines()[-1])
        return seconds, probe["state"]

    def finish(self):
        say("Stopping the clients and the power broadcasts; one final change per device")
        figures = self.stop_clients()
        self.run("ovledsoak.exe", "power-remove", check=False)
        self.power_installed = False
        still_same_process = wine_process(self.out_dir / "wineprefix", "OvLedService.exe") == self.unix_pid
        settings_problems, final_plan = self.check_settings()
        say("Stopping the service while the firmware server is gone")
        stop_seconds, stopped_state = self.stop_service()
        return report(self, figures, settings_problems, final_plan, still_same_process, stop_seconds, stopped_state)


def percentile(values, fraction):
    if not values:
        return None
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def window_floor(points, start, end):
    """The least value in a window: what the process keeps, without what the calls in flight hold."""
    values = [value for at, value in points if start <= at <= end and value is not None]
    return min(values) if values else None


def growth(before, after):
    return None if not before or after is None else (after - before) / before


def read_json_lines(path):
    rows = []
    if path.exists():
        for line in path.read_text(errors="replace").splitlines():
            try:
                rows.append(json.loads(line))
            except ValueError:
                pass
    return rows


def report(soak, figures, settings_problems, final_plan, still_same_process, stop_seconds, stopped_state):
    rows = []  # (figure, value, limit, ok)
    to_epoch = soak.epoch_offset * 1000

    calls = []
    with open(soak.control / "calls.csv") as table:
        for row in csv.DictReader(table):
            calls.append((float(row["start_epoch_ms"]), float(row["ms"]), row["kind"]))
    latencies = [ms for _, ms, _ in calls]
    after_kill = [ms for start, ms, _ in calls if start >= soak.kill_epoch_ms]
    made = ", ".join(f"{kind} {count}" for kind, count in sorted(figures["made_by_client"].items()))
    failed = ", ".join(f"{code} x{count}" for code, count in sorted(figures["failed_by_hresult"].items()))
    rows.append(("COM calls made / failed", f"{figures['calls']} / {figures['failed']}  ({made})"
                 + (f"; failures: {failed}" if failed else ""), "-", True))
    rows.append(("slowest COM call", f"{figures['slowest_ms']:.0f} ms; hangs (over 5 s): {figures['hangs']}",
                 "hangs: 0", figures["hangs"] == 0))
    hostile = figures["hostile"]
    rows.append(("hostile late-bound calls (an object as the ModeByIndex index)",
                 f"{hostile['calls']} made, {hostile['refused']} refused (DISP_E_TYPEMISMATCH), "
                 f"{hostile['accepted']} accepted; calls back into the object: {hostile['callbacks']}",
                 "some made, none accepted, no call back",
                 hostile["calls"] > 0 and hostile["accepted"] == 0 and hostile["callbacks"] == 0))
    slowest_after_kill = max(after_kill) if after_kill else None
    rows.append(("COM calls after the firmware server was killed",
                 f"{len(after_kill)} calls, slowest {slowest_after_kill:.0f} ms" if after_kill else "no calls",
                 "each within 1 s", bool(after_kill) and slowest_after_kill <= KILLED_ANSWER_MS))

    samples = read_json_lines(soak.control / "service.jsonl")
    pids = {s["pid"] for s in samples}
    not_running = [s for s in samples if s["state"] != 4]
    restarts = len(pids) - 1 + (0 if still_same_process else 1)
    rows.append(("service process restarts and crashes",
                 f"{max(0, restarts)} restarts, {len(not_running)} samples not running "
                 f"(Windows pid {', '.join(map(str, sorted(pids)))}, {len(samples)} samples)",
                 "0", restarts == 0 and not not_running and bool(samples)))

    # After warm-up: after the first whole cycle when a second one follows; in a shorter run after the
    # four server faults. Their new firmware connections raise the handle count once (measured: 165 ->
    # 180), and while the server is slow or hangs, the service's own calls wait in Wine's RPC while the
    # clients' calls are answered beside them: Wine's pool keeps the threads it added for that (measured:
    # 35 -> 41 threads, 151 -> 175 open files, the same after every later cycle).
    baseline = soak.cycle_ends[1] if len(soak.cycle_ends) > 2 else soak.phase_ends[3]
    window = 10.0
    # Windows' view where it answers (GetProcessHandleCount, PrivateUsage); Wine 8 answers 0 for another
    # process, and then the wine process's own view from /proc stands in.
    windows_handles = [((s["t"] - to_epoch) / 1000, s["handles"]) for s in samples if s["handles"]]
    windows_private = [((s["t"] - to_epoch) / 1000, s["private"] / 1024) for s in samples if s["private"]]
    measures = [
        ("handle count (Windows)", windows_handles, "") if windows_handles else
        ("handles (Linux: open fds of the wine process)", [(m[0], m[3]) for m in soak.memory], ""),
        ("private memory (Windows: PrivateUsage)", windows_private, " KiB") if windows_private else
        ("private memory (Linux: RssAnon of the wine process)", [(m[0], m[1]) for m in soak.memory], " KiB"),
    ]
    limit = GROWTH_LIMIT if len(soak.cycle_ends) > 2 else SHORT_RUN_GROWTH_LIMIT
    for name, points, unit in measures:
        before = window_floor(points, baseline, baseline + window)
        after = window_floor(points, soak.before_kill - window, soak.before_kill)
        change = growth(before, after)
        rows.append((f"{name}, after warm-up vs end",
                     f"{before:.0f}{unit} -> {after:.0f}{unit} ({change * 100:+.1f} %)" if change is not None
                     else "not measured", f"growth <= {limit * 100:.0f} %", change is not None and change <= limit))

    rows.append(("Lighting.xml", "parses, equals the last change " + str(final_plan) if not settings_problems
                 else "; ".join(settings_problems), "parses, equals the last change", not settings_problems))

    failed_checks = [c for c in soak.checks if c["problems"]]
    by_fault = {}
    for c in soak.checks:
        by_fault.setdefault(c["fault"], [0, 0])
        by_fault[c["fault"]][0 if not c["problems"] else 1] += 1
    rows.append(("the board, after each fault clears",
                 f"{len(soak.checks) - len(failed_checks)} of {len(soak.checks)} checks passed ("
                 + ", ".join(f"{name} {ok}/{ok + bad}" for name, (ok, bad) in by_fault.items()) + ")",
                 "all pass", bool(soak.checks) and not failed_checks))

    restarts_resume = soak.resume_times["server-restart"] + soak.resume_times["server-unregistered"]
    worst = None if not restarts_resume or None in restarts_resume else max(restarts_resume)
    rows.append(("music colour resume after the server comes back",
                 f"worst {worst:.2f} s of {len(restarts_resume)}" if worst is not None
                 else f"not resumed in one of {len(restarts_resume)}", "<= 2 s",
                 worst is not None and worst <= MUSIC_RESUME_LIMIT_S))
    rows.append(("service stop on request, firmware server gone", f"{stop_seconds:.1f} s (state {stopped_state})",
                 "<= 30 s, stopped", stop_seconds <= STOP_LIMIT_S and stopped_state == 1))

    # While the server hangs, a call there waits, and so do the COM callers that need one: none of them.
    windows = [(begin, end if end is not None else float("inf")) for begin, end in soak.hang_windows]
    during_hang = [ms for start, ms, _ in calls if any(b <= start < e for b, e in windows)]
    rows.append(("COM calls while the firmware server hung",
                 f"{len(during_hang)} calls, slowest {max(during_hang):.0f} ms" if during_hang else "no calls",
                 f"each within {HUNG_ANSWER_MS} ms", bool(during_hang) and max(during_hang) <= HUNG_ANSWER_MS))

    # A suspend or resume handled while the server hangs waits for it (it reaches the firmware), and the
    # broadcaster's send times out: counted apart.
    pairs = read_json_lines(soak.out_dir / "power.log")

    def in_hang(pair):
        began = pair["t"] - pair["suspend_ms"] - pair["resume_ms"]
        return any(began <= e and pair["t"] >= b for b, e in windows)

    hung_pairs = [p for p in pairs if in_hang(p)]
    pairs = [p for p in pairs if not in_hang(p)]
    bad_pairs = [p for p in pairs if not (p["found"] and p["suspend_ok"] and p["resume_ok"])]
    slowest_pair = max((p["suspend_ms"] + p["resume_ms"] for p in pairs), default=0)
    rows.append(("suspend/resume pairs (test-only service)",
                 f"{len(pairs)} sent, {len(bad_pairs)} failed, slowest pair {slowest_pair:.0f} ms; "
                 f"{len(hung_pairs)} more while the server hung", "none failed",
                 bool(pairs) and not bad_pairs))
    logs = "".join((soak.out_dir / name).read_text(errors="replace") for name in ("commands.log", "clients.json"))
    if "wineserver crashed" in logs:
        soak.failures.append("Wine's own server (wineserver) crashed; see commands.log")
    for failure in soak.failures:
        rows.append(("run", failure, "-", False))

    # Figures without limits.
    figures_rows = []
    threads = [(m[0], m[4]) for m in soak.memory]
    before = window_floor(threads, baseline, baseline + window)
    after = window_floor(threads, soak.before_kill - window, soak.before_kill)
    if before and after:
        figures_rows.append(("threads of the service (Linux: tasks), after warm-up vs end", f"{before} -> {after}"))
    figures_rows.append(("COM call latency median / p99",
                         f"{percentile(latencies, 0.5):.2f} ms / {percentile(latencies, 0.99):.2f} ms"))
    cpu = [(m[0], m[2]) for m in soak.memory if m[2] is not None and m[0] <= soak.before_kill]
    if len(cpu) >= 2:
        figures_rows.append(("service CPU share (until the kill)",
                             f"{100 * (cpu[-1][1] - cpu[0][1]) / (cpu[-1][0] - cpu[0][0]):.1f} % of one core"))
    board = [(at, s) for at, s in soak.watcher.all() if soak.started <= at <= soak.before_kill]
    if len(board) >= 2:
        (_, first), (_, last) = board[0], board[-1]
        seconds = (last["now"] - first["now"]) / 1e6
        figures_rows.append(("firmware calls per second (until the kill)",
                             f"{(sum(last['calls']) - sum(first['calls'])) / seconds:.1f}"
                             f" ({last['failed'] - first['failed']} failed)"))
    sink = [r for r in soak.resume_times["audio-sink"] if r is not None]
    figures_rows.append(("music colour resume after the audio sink comes back",
                         f"worst {max(sink):.2f} s, median {statistics.median(sink):.2f} s" if sink else "not seen"))
    figures_rows.append(("fault cycles, run length", f"{soak.cycles} full cycles, "
                         f"{soak.before_kill - soak.started:.0f} s until the kill"))
    figures_rows.append(("temperature steps of the run's own that failed",
                         f"{len(soak.harness_failures)}" + (f" (first: {soak.harness_failures[0]})"
                                                             if soak.harness_failures else "")))

    say("Soak-and-fault run: results")
    width = max(len(r[0]) for r in rows + figures_rows)
    print(f"| {'figure'.ljust(width)} | value | limit | |")
    print(f"|{'-' * (width + 2)}|---|---|---|")
    for name, value, limit, ok in rows:
        print(f"| {name.ljust(width)} | {value} | {limit} | {'ok' if ok else 'BROKEN'} |")
    for name, value in figures_rows:
        print(f"| {name.ljust(width)} | {value} | - | |")
    for c in failed_checks:
        print(f"check after {c['fault']} (cycle {c['cycle']}): " + "; ".join(c["problems"]))
    broken = [name for name, _, _, ok in rows if not ok]
    summary = {"rows": [list(r) for r in rows], "figures": [list(f) for f in figures_rows], "checks": soak.checks}
    (soak.out_dir / "results.json").write_text(json.dumps(summary, indent=1))
    if broken:
        # What the session's services printed (a dying service's last words land there).
        services_log = soak.out_dir / "services.log"
        if restarts and services_log.exists():
            tail = services_log.read_text(errors="replace").replace("\0", "").strip().splitlines()[-40:]
            print("the session's services printed (last 40 lines of services.log):")
            for line in tail:
                print(f"    | {line}")
        print("LIMITS BROKEN: " + "; ".join(broken), flush=True)
        return 1
    say("Every limit held")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    length = parser.add_mutually_exclusive_group()
    length.add_argument("--minutes", type=float, help="length of the run in minutes")
    length.add_argument("--seconds", type=float, help="length of the run in seconds (60 by default)")
    parser.add_argument("--seed", type=int, default=1, help="the clients' random seed")
    parser.add_argument("--slow-ms", type=int, default=200, help="the slow server's delay per call (200)")
    parser.add_argument("--build-dir", default=str(ROOT / "build/windows"))
    parser.add_argument("--out-dir", default=str(ROOT / "build/soak"))
    args = parser.parse_args()
    args.seconds = args.minutes * 60 if args.minutes is not None else (args.seconds or 60.0)

    out_dir = Path(args.out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    soak = Soak(args, out_dir, out_dir / "install")
    try:
        soak.setup()
        soak.started = time.monotonic()
        soak.epoch_offset = time.time() - time.monotonic()
        say(f"The run: {args.seconds:.0f} s")
        soak.schedule()
        return soak.finish()
    except KeyboardInterrupt:
        print("\ninterrupted", flush=True)
        return 130
    except (SoakError, demo.DemoError, subprocess.SubprocessError, OSError, ValueError) as error:
        print(f"ERROR: {error}", file=sys.stderr, flush=True)
        return 1
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        soak.teardown()


if __name__ == "__main__":
    sys.exit(main())
