#!/usr/bin/env python3
"""The service's main job on the virtual board, as a scripted show.

Starts the virtual board (automation server, ovio.dll, shared board state) and the service in a private
Wine prefix, plays generated music into a private PulseAudio null sink, and runs a show through the
client tool: the onboard zone and strip 1 in thermal mode while the CPU temperature ramps from 20 to 70
degrees, strip 0 in music mode, strip 2 off; halfway the strips are switched off and on again. The
board is drawn live in the terminal, a timeline picture is written, and the figures the board saw are
printed. Everything it started is stopped and unregistered at the end (unless --keep-running), so a
second run starts from the same clean state.

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
import timeline  # noqa: E402  (beside this file)

ROOT = Path(__file__).resolve().parents[2]
SERVICE = "Orvex LED Control Service"
MODE_NAMES = {0: "none", 1: "music", 2: "thermal"}
ITEM_HOST_CONTROL = 0x13060041
ITEM_STRIP_SELECT = 0x13060046
ITEM_STRIP_HOST_CONTROL = 0x13060047
ITEM_STRIP_EFFECT = 0x13060048
ITEM_STRIP_COLOUR = 0x13060049
TRACE_ITEM_WRITE = 1
TRACE_EC_WRITE = 2


def say(text):
    print(f"==> {text}", flush=True)


def note(text):
    print(f"    {text}", flush=True)


class DemoError(Exception):
    pass


class Wine:
    """Runs Windows programs of the demo in its private prefix."""

    def __init__(self, out_dir, install_dir, extra_env):
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

    def session(self, stop=False):
        args = [str(ROOT / "scripts/wine-prefix.sh"), str(self.out_dir)] + (["--stop"] if stop else [])
        subprocess.run(args, env=self.env, check=not stop, stdout=subprocess.DEVNULL if stop else None)

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

    def popen(self, program, *args):
        return subprocess.Popen(["wine", str(self.install / program), *map(str, args)], env=self.env,
                                cwd=self.install, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True, errors="replace")


class Watcher:
    """Reads boardctl's JSON samples on a thread of its own and keeps them all."""

    def __init__(self, process):
        self.process = process
        self.samples = []  # (monotonic time of arrival, sample)
        self.lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        for line in self.process.stdout:
            line = line.strip()
            if not line.startswith("{"):
                continue
            try:
                sample = json.loads(line)
            except ValueError:
                continue
            with self.lock:
                self.samples.append((time.monotonic(), sample))

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
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
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


def service_pid():
    """The Linux process of the running service under Wine."""
    found = subprocess.run(["pgrep", "-f", "OvLedService.exe"], stdout=subprocess.PIPE, text=True)
    pids = [int(p) for p in found.stdout.split()]
    return pids[0] if pids else None


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


def start_audio(out_dir, seconds):
    """A private PulseAudio with a null sink, and generated music played into it. Returns (env, player)."""
    pa_home = out_dir / "pulse"
    env = dict(os.environ, PA_HOME=str(pa_home))
    started = subprocess.run([str(ROOT / "scripts/pa-start.sh")], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
    if started.returncode != 0:
        note("PulseAudio could not start here; the show runs without music:")
        note(started.stdout.strip().splitlines()[-1] if started.stdout.strip() else "(no message)")
        return {}, None
    server = [line.split("=", 1)[1] for line in started.stdout.splitlines() if line.startswith("PULSE_SERVER=")][-1]
    # Three voices in turn, each pulsing four times a second: a 100 Hz bass (the low band: red), a 700 Hz
    # tone (the mid band: the hue creeps towards cyan) and a 5 kHz tone (the high band: towards magenta).
    # The hue never wraps, so each return to the bass runs back through the rainbow.
    voices = []
    for name, seconds_each, hertz in (("low", 2, 100), ("mid", 3, 700), ("high", 2, 5000)):
        voice = out_dir / f"{name}.wav"
        subprocess.run(["sox", "-q", "-n", "-r", "48000", "-c", "2", "-b", "16", str(voice), "synth",
                        str(seconds_each), "sine", str(hertz), "tremolo", "4", "90", "vol", "0.6"], check=True)
        voices.append(str(voice))
    mixed = out_dir / "show.wav"
    cycles = int(seconds / 7) + 1
    subprocess.run(["sox", "-q", *voices, str(mixed), "repeat", str(cycles)], check=True)
    player_env = dict(env, PULSE_SERVER=server)
    player = subprocess.Popen(["paplay", "--latency-msec=20", "-d", "vsink", str(mixed)], env=player_env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return {"PULSE_SERVER": server}, player


def stop_audio(out_dir, player):
    if player and player.poll() is None:
        player.terminate()
        try:
            player.wait(timeout=5)
        except subprocess.TimeoutExpired:
            player.kill()
    subprocess.run([str(ROOT / "scripts/pa-stop.sh")], env=dict(os.environ, PA_HOME=str(out_dir / "pulse")),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


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
    for step in (lambda: wine.system("net", "stop", SERVICE, check=False, timeout=60),
                 lambda: wine.run("OvLedService.exe", "/UnregServer", check=False, quiet=True),
                 lambda: wine.run("boardctl.exe", "stop", check=False, quiet=True),
                 lambda: wine.run("boardctl.exe", "unregister", check=False, quiet=True)):
        try:
            step()
        except (subprocess.TimeoutExpired, OSError) as error:
            note(f"(teardown step failed: {error})")
    stop_audio(out_dir, player)
    wine.session(stop=True)


def board_start_time(samples, wall_at_start):
    """The board clock's reading (microseconds) at a moment of this process's monotonic clock."""
    for arrived, sample in samples:
        if arrived >= wall_at_start:
            return sample["now"] - (arrived - wall_at_start) * 1e6
    if samples:
        arrived, sample = samples[-1]
        return sample["now"] + (wall_at_start - arrived) * 1e6
    return None


def analyse(samples, start_board_micros, show_start, show_end, cpu):
    """Figures and facts from everything the board saw."""
    trace = [entry for _, sample in samples for entry in sample["trace"]]
    facts = {"writes_per_device": {}, "thermal_seen": {}, "strip_colour_writes": {}, "host_control": {}}

    def window(at):
        chosen = None
        for arrived, sample in samples:
            if arrived <= at:
                chosen = sample
        return chosen or samples[0][1]

    first, last = window(show_start), window(show_end)
    seconds = max(1e-6, (last["now"] - first["now"]) / 1e6)
    for index, (before, after) in enumerate(zip(first["writes"], last["writes"])):
        device = index - 1
        if device < last["strips"]:
            facts["writes_per_device"][device] = (after - before) / seconds
    facts["calls_per_second"] = (sum(last["calls"]) - sum(first["calls"])) / seconds
    facts["failed_calls"] = last["failed"] - first["failed"]

    for _, sample in samples:
        for led in sample["leds"]:
            r, g, b = (int(led["rgb"][i:i + 2], 16) for i in (0, 2, 4))
            # A thermal colour: fully saturated between green and red, never blue.
            if led["host"] and b == 0 and max(r, g) == 255:
                facts["thermal_seen"][led["dev"]] = True
            if led["host"]:
                facts["host_control"][led["dev"]] = True
    for micros, kind, target, value, detail in trace:
        if kind == TRACE_ITEM_WRITE and target in (ITEM_STRIP_COLOUR, ITEM_STRIP_EFFECT, ITEM_STRIP_HOST_CONTROL):
            strip = detail >> 8
            facts["strip_colour_writes"].setdefault(strip, 0)
            if target == ITEM_STRIP_COLOUR:
                facts["strip_colour_writes"][strip] += 1

    # From the service's start to its stored modes being applied: every device with a mode handed to the
    # service (host control on) and the first music colour on strip 0.
    applied = None
    if start_board_micros is not None:
        handed = {}
        first_music = None
        for micros, kind, target, value, detail in sorted(trace):
            if micros < start_board_micros:
                continue
            if kind == TRACE_ITEM_WRITE and target == ITEM_HOST_CONTROL and value == 1:
                handed.setdefault(-1, micros)
            if kind == TRACE_ITEM_WRITE and target == ITEM_STRIP_HOST_CONTROL and value == 1:
                handed.setdefault(detail >> 8, micros)
            if kind == TRACE_ITEM_WRITE and target == ITEM_STRIP_COLOUR and (detail >> 8) == 0:
                first_music = first_music or micros
        if all(d in handed for d in (-1, 0, 1)) and first_music:
            applied = (max(max(handed[d] for d in (-1, 0, 1)), first_music) - start_board_micros) / 1e6
        first_thermal = next((micros for micros, kind, target, value, detail in sorted(trace)
                              if micros >= start_board_micros and kind == TRACE_EC_WRITE), None)
        facts["first_thermal_after_start"] = (first_thermal - start_board_micros) / 1e6 if first_thermal else None
    facts["applied_after_start"] = applied
    # How long before the show's end the service last wrote to the board: a service that stopped driving
    # the LEDs (a hang) shows up here even when every mode was seen working earlier.
    end_board_micros = board_start_time(samples, show_end)
    writes = [entry[0] for entry in trace if entry[1] in (TRACE_ITEM_WRITE, TRACE_EC_WRITE)]
    facts["quiet_before_end"] = ((end_board_micros - max(writes)) / 1e6
                                 if writes and end_board_micros is not None else None)
    facts["cpu_percent"] = cpu
    facts["seconds"] = seconds
    return facts


def print_summary(facts, picture, audio):
    say("What the board saw")
    names = {-1: "onboard"}
    for device, rate in sorted(facts["writes_per_device"].items()):
        note(f"colour writes per second, {names.get(device, f'strip {device}'):8}: {rate:7.1f}")
    note(f"bridge calls per second (automation server):  {facts['calls_per_second']:7.1f}"
         f"   (failed calls: {facts['failed_calls']})")
    cpu = facts["cpu_percent"]
    note(f"service CPU use:                              {cpu:6.1f} %" if cpu is not None
         else "service CPU use: (the service process was not found)")
    applied = facts["applied_after_start"]
    note(f"service start -> stored modes applied:        {applied:7.2f} s" if applied is not None
         else "service start -> stored modes applied: (not seen)")
    thermal = facts.get("first_thermal_after_start")
    if thermal is not None:
        note(f"service start -> first thermal colour:        {thermal:7.2f} s (one 3 s period later)")
    note(f"music: {'generated music through PulseAudio' if audio else 'no audio (the music colour stays dark)'}")
    say(f"Timeline picture: {picture}")


def check(facts):
    problems = []
    for device in (-1, 1):
        if not facts["thermal_seen"].get(device):
            problems.append(f"{'onboard' if device == -1 else f'strip {device}'} never showed a thermal colour")
    if facts["strip_colour_writes"].get(0, 0) < 3:
        problems.append("strip 0 got no music colour writes")
    if facts["strip_colour_writes"].get(2, 0) or facts["host_control"].get(2):
        problems.append("strip 2 was written although it is off")
    quiet = facts.get("quiet_before_end")
    # The thermal mode writes every 3 s; a longer silence at the end means the service stopped.
    if quiet is None or quiet > 4.5:
        problems.append("the service stopped writing to the board before the end of the show"
                        + (f" ({quiet:.1f} s before)" if quiet is not None else ""))
    return problems


def run_show(args, wine, watcher, out_dir, start_wall, audio):
    plan = {-1: 2, 0: 1, 1: 2, 2: 0}
    modes = dict(plan)
    strips_on = True
    view = LiveView(sys.stdout)
    half = args.duration / 2
    back_on = half + max(3.0, args.duration / 10)
    events = [
        (1.0, "modes through the client tool", [("set", -1, "thermal"), ("set", 0, "music"), ("set", 1, "thermal"),
                                                ("set", 2, "none")]),
        (half, "strips off (-3)", [("off", "strips")]),
        (back_on, "strips on again (strip 0 music)", [("set", 0, "music")]),
    ]
    caption = "starting"
    say(f"The show: {args.duration:.0f} s, temperature 20 -> 70 degrees"
        + ("" if audio else ", no audio"))
    show_start = time.monotonic()
    next_temperature = 0.0
    while True:
        elapsed = time.monotonic() - show_start
        if elapsed >= args.duration:
            break
        if elapsed >= next_temperature:
            degrees = 20.0 + 50.0 * min(1.0, elapsed / args.duration)
            wine.run("boardctl.exe", "temperature", f"{degrees:.1f}", quiet=True)
            next_temperature += 1.0
        while events and elapsed >= events[0][0]:
            _, caption, commands = events.pop(0)
            for command in commands:
                wine.run("ovledctl.exe", *command, quiet=True)
                if command[0] == "off":
                    strips_on = False
                elif command[0] == "set" and command[1] >= 0:
                    strips_on = True
        sample = watcher.latest()
        if sample:
            view.draw(time.monotonic() - start_wall, sample[1], modes, strips_on, caption)
        time.sleep(0.1)
    return show_start, time.monotonic(), (half, back_on)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--duration", type=float, default=60.0, help="length of the show in seconds (60)")
    parser.add_argument("--profile", default="switch-strips",
                        help="board profile: switch-strips (default), no-switch, no-sensor, ...")
    parser.add_argument("--no-audio", action="store_true", help="no PulseAudio and no generated music")
    parser.add_argument("--keep-running", action="store_true", help="leave everything running at the end")
    parser.add_argument("--stop", action="store_true", help="stop what a --keep-running show left behind")
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
    stop_audio(out_dir, None)
    wine.session(stop=True)
    copy_install(build_dir, install)

    player = None
    audio_env = {}
    interrupted = False
    try:
        if not args.no_audio:
            say("Starting a private PulseAudio with a null sink and generated music")
            audio_env, player = start_audio(out_dir, args.duration + 30)
        wine = Wine(out_dir, install, audio_env)
        say("Preparing the Wine prefix (null graphics driver, warm session)")
        wine.session()

        say(f"Starting the virtual board (profile {args.profile})")
        wine.run("boardctl.exe", "register", install / "VirtualAcpiServer.exe", quiet=True)
        wine.run("boardctl.exe", "start", quiet=True)
        wine.run("boardctl.exe", "profile", args.profile, quiet=True)
        wine.run("boardctl.exe", "temperature", "20", quiet=True)
        watcher = Watcher(wine.popen("boardctl.exe", "watch", "100"))
        if not watcher.wait_first():
            raise DemoError("the board watcher produced no sample")

        say("Registering the service (/Service) and starting it through the service manager")
        seed_settings(install, {-1: 2, 0: 1, 1: 2, 2: 0})
        wine.run("OvLedService.exe", "/Service", quiet=True)
        start_wall = time.monotonic()
        wine.system("net", "start", SERVICE)
        pid = service_pid()
        cpu_before = cpu_seconds(pid) if pid else None

        show_start, show_end, _ = run_show(args, wine, watcher, out_dir, start_wall, bool(audio_env))
        cpu_after = cpu_seconds(pid) if pid else None
        time.sleep(0.3)
        samples = watcher.all()
        watcher.stop()

        cpu = None
        if cpu_before is not None and cpu_after is not None:
            cpu = 100.0 * (cpu_after - cpu_before) / max(1e-6, show_end - show_start)
        facts = analyse(samples, board_start_time(samples, start_wall), show_start, show_end, cpu)
        picture = out_dir / "timeline.svg"
        timeline.write_svg(picture, samples, start_wall, show_start, show_end,
                           {-1: "onboard: thermal", 0: "strip 0: music", 1: "strip 1: thermal", 2: "strip 2: off"},
                           strips_off=(show_start + args.duration / 2,
                                       show_start + args.duration / 2 + max(3.0, args.duration / 10)))
        print_summary(facts, picture, bool(audio_env))
        problems = check(facts) if args.check else []
        for problem in problems:
            print(f"CHECK FAILED: {problem}", flush=True)
        if args.check and not problems:
            say("Check passed: thermal colours on the onboard zone and strip 1, music writes on strip 0, "
                "nothing on strip 2")
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
