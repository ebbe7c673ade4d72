"""What the board saw during the show, as figures: colour writes per device, the colour tick as the
board sees it, firmware calls, the delay from a loud burst to the first changed colour. Everything is
read from the board's watch samples (counters and the write trace with board-clock times); times of
this process are put on the board clock with the offset measured by `boardctl clock`."""

import collections
import math

ITEM_HOST_CONTROL = 0x13060041
ITEM_ONBOARD_COLOUR = 0x13060043
ITEM_STRIP_SELECT = 0x13060046
ITEM_STRIP_HOST_CONTROL = 0x13060047
ITEM_STRIP_COLOUR = 0x13060049
TRACE_ITEM_WRITE = 1
TRACE_EC_WRITE = 2
EC_COLOUR_REGISTERS = (0x70, 0x71, 0x72)  # bank 0: red, blue, green
# The three register writes of one onboard colour come within a few microseconds of each other (a few
# milliseconds on a slow port library); ticks are 10 ms apart.
EC_COLOUR_GROUP_MICROS = 5000
METHODS = ("iAcpiInit", "iAcpiGetItem", "iAcpiGetItemEx", "iAcpiSetItem", "iAcpiSetItemBuffer", "iAcpiMbif",
           "iAcpiGGrp", "iAcpiCallMethod")


def device_name(device):
    return "onboard" if device == -1 else f"strip {device}"


def trace_of(samples):
    """Every traced write, oldest first, and how many the watcher lost to the ring."""
    entries, lost, previous = [], 0, None
    for _, sample in samples:
        entries.extend(sample["trace"])
        traced = sample.get("traced")
        if traced is not None and previous is not None:
            lost += max(0, traced - previous - len(sample["trace"]))
        previous = traced if traced is not None else previous
    entries.sort()
    return entries, lost


def channels(device, colour):
    """The three channel bytes of a written colour, in no particular order (the wire orders differ)."""
    shift = 8 if device == -1 else 0  # the onboard colour item carries its bytes from bit 8
    return tuple((colour >> (shift + 8 * i)) & 0xFF for i in range(3))


def colour_writes(trace):
    """Each colour write to a device: (board micros, device, its three channel bytes). The onboard
    zone's three colour registers written together count as one write."""
    writes = []
    registers = {r: 0 for r in EC_COLOUR_REGISTERS}
    group = None  # [first micros, registers written]

    def close_group():
        if group:
            writes.append((group[0], -1, tuple(registers[r] for r in EC_COLOUR_REGISTERS)))

    for micros, kind, target, value, detail in trace:
        if kind == TRACE_EC_WRITE and target >> 8 == 0 and target & 0xFF in EC_COLOUR_REGISTERS:
            register = target & 0xFF
            if group is None or register in group[1] or micros - group[0] > EC_COLOUR_GROUP_MICROS:
                close_group()
                group = [micros, set()]
            group[1].add(register)
            registers[register] = value
        elif kind == TRACE_ITEM_WRITE and target == ITEM_STRIP_COLOUR:
            writes.append((micros, detail >> 8, channels(0, value)))
        elif kind == TRACE_ITEM_WRITE and target == ITEM_ONBOARD_COLOUR:
            writes.append((micros, -1, channels(-1, value)))
    close_group()
    writes.sort()
    return writes


def is_thermal(channel_bytes):
    """Could be a thermal colour: fully saturated between green and red, one channel at 255, one at 0."""
    return max(channel_bytes) == 255 and min(channel_bytes) == 0


def percentile(values, fraction):
    """Nearest rank."""
    ordered = sorted(values)
    return ordered[min(len(ordered), max(1, math.ceil(fraction * len(ordered)))) - 1]


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


def sample_at(samples, board_micros):
    """The last sample taken at or before a board time (the first one when none was)."""
    chosen = samples[0][1]
    for _, sample in samples:
        if sample["now"] <= board_micros:
            chosen = sample
    return chosen


def counter_rates(samples, begin, end):
    """Calls per second per method, and the span in seconds, between two board times."""
    first, last = sample_at(samples, begin), sample_at(samples, end)
    seconds = max(1e-6, (last["now"] - first["now"]) / 1e6)
    calls = {METHODS[i]: (after - before) / seconds
             for i, (before, after) in enumerate(zip(first["calls"], last["calls"])) if after > before}
    return calls, seconds, last["failed"] - first["failed"]


def loud_music(writes, devices, spans):
    """Per device: colour writes per second and the tick (mean, p99 in ms) within the loud spans."""
    figures = {}
    total = sum(end - begin for begin, end in spans) / 1e6
    for device in devices:
        count, gaps = 0, []
        for begin, end in spans:
            times = [micros for micros, d, _ in writes if d == device and begin <= micros < end]
            count += len(times)
            gaps.extend((b - a) / 1000 for a, b in zip(times, times[1:]))
        figures[device] = {
            "rate": count / total if total > 0 else 0.0,
            "tick_mean": sum(gaps) / len(gaps) if gaps else None,
            "tick_p99": percentile(gaps, 0.99) if gaps else None,
        }
    return figures


def onset_delays(writes, devices, onsets):
    """For each loud onset (board micros): ms to the first colour on a music device that answers it.
    In silence the music colour only fades (its brightest channel never rises) whatever it showed
    before, so the answer is the first write brighter than the device's write before it."""
    delays = []
    for onset in onsets:
        before = {}
        for micros, device, colour in writes:
            if device not in devices:
                continue
            if micros >= onset and device in before and max(colour) > before[device]:
                if micros - onset < 1e6:
                    delays.append((micros - onset) / 1000)
                break
            before[device] = max(colour)
    return delays


def most_colours_within(writes, device, begin, end, window_micros):
    """The most distinct colours a device was given within any window of that length."""
    times = [(micros, colour) for micros, d, colour in writes if d == device and begin <= micros < end]
    in_window = collections.Counter()
    best, first = 0, 0
    for micros, colour in times:
        in_window[colour] += 1
        while times[first][0] <= micros - window_micros:
            old = times[first][1]
            in_window[old] -= 1
            if not in_window[old]:
                del in_window[old]
            first += 1
        best = max(best, len(in_window))
    return best


def writes_per_device(writes, devices, begin, end):
    seconds = max(1e-6, (end - begin) / 1e6)
    return {d: sum(1 for micros, device, _ in writes if device == d and begin <= micros < end) / seconds
            for d in devices}


def item_writes_per_strip(trace, begin, end):
    """Firmware item writes per second that acted on each strip (its selects, its colour, ...)."""
    seconds = max(1e-6, (end - begin) / 1e6)
    counts = {}
    for micros, kind, target, value, detail in trace:
        if kind == TRACE_ITEM_WRITE and begin <= micros < end and ITEM_STRIP_SELECT <= target <= ITEM_STRIP_COLOUR:
            counts[detail >> 8] = counts.get(detail >> 8, 0) + 1
    return {strip: count / seconds for strip, count in counts.items()}
