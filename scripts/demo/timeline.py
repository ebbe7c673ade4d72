"""The show's timeline as an SVG picture: one row per device, time running left to right, each stretch
drawn in the colour the board showed; the CPU temperature under it; the later stretches of the show
named above the rows. A reader sees the thermal fade from green to red and the music flicker at a
glance."""

from xml.sax.saxutils import escape

LABEL_MARGIN = 20   # left of the longest row label, and between it and its row
CHAR_WIDTH = 8      # a 13 px sans-serif character, generously: a label must never be cut
WIDTH = 1200        # the plotted time span
ROW = 44
GAP = 10
TOP = 76
TEMP_HEIGHT = 90


def _segments(samples, device, start, end):
    """Stretches of one colour for a device: (from, to, rrggbb), in seconds since `start`."""
    stretches = []
    for arrived, sample in samples:
        if arrived < start or arrived > end:
            continue
        led = next((l for l in sample["leds"] if l["dev"] == device), None)
        if led is None:
            continue
        t = arrived - start
        if stretches and stretches[-1][2] == led["rgb"]:
            stretches[-1][1] = t
        else:
            if stretches:
                stretches[-1][1] = t
            stretches.append([t, t, led["rgb"]])
    if stretches:
        stretches[-1][1] = end - start
    return stretches


def write_svg(path, samples, start, show_start, show_end, labels, strips_off=None, stretches=()):
    span = max(1e-6, show_end - start)
    present = {led["dev"] for _, sample in samples[:1] for led in sample["leds"]}
    devices = [d for d in sorted(labels) if d in present] or sorted(labels)
    height = TOP + len(devices) * (ROW + GAP) + TEMP_HEIGHT + 70
    # Room for the longest row label ("onboard: thermal, music", "CPU temperature").
    longest = max([len(labels.get(d, str(d))) for d in devices] + [len("CPU temperature")])
    left = max(160, 2 * LABEL_MARGIN + CHAR_WIDTH * longest)

    def x(t):
        return left + WIDTH * max(0.0, min(1.0, t / span))

    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{left + WIDTH + 40}" height="{height}" '
           f'font-family="sans-serif" font-size="13">',
           f'<rect width="100%" height="100%" fill="#1c1c1c"/>',
           f'<text x="{left}" y="24" fill="#eeeeee" font-size="16">OvLedService on the virtual board: what every '
           f'LED showed, from the service start</text>',
           f'<text x="{left}" y="44" fill="#aaaaaa">show from {show_start - start:.1f} s to {show_end - start:.1f} s;'
           f' grey bands: the strips were switched off</text>']

    rows_top = TOP
    rows_bottom = TOP + len(devices) * (ROW + GAP) - GAP
    for row, device in enumerate(devices):
        y = TOP + row * (ROW + GAP)
        out.append(f'<text x="{left - 10}" y="{y + ROW / 2 + 5}" fill="#eeeeee" text-anchor="end">'
                   f'{escape(labels.get(device, str(device)))}</text>')
        out.append(f'<rect x="{left}" y="{y}" width="{WIDTH}" height="{ROW}" fill="#000000"/>')
        for t0, t1, rgb in _segments(samples, device, start, show_end):
            w = max(0.5, x(t1) - x(t0))
            out.append(f'<rect x="{x(t0):.2f}" y="{y}" width="{w:.2f}" height="{ROW}" fill="#{rgb}"/>')

    if strips_off:
        x0, x1 = x(strips_off[0] - start), x(strips_off[1] - start)
        first_strip_row = next((i for i, d in enumerate(devices) if d >= 0), None)
        if first_strip_row is not None:
            y = TOP + first_strip_row * (ROW + GAP) - 3
            out.append(f'<rect x="{x0:.2f}" y="{y}" width="{x1 - x0:.2f}" height="{rows_bottom - y + 3}" '
                       f'fill="#808080" fill-opacity="0.35" stroke="#cccccc" stroke-dasharray="4 3"/>')

    # The later stretches: a bracket over the rows with its name.
    for begin, end, name in stretches:
        x0, x1 = x(begin - start), x(end - start)
        out.append(f'<line x1="{x0:.2f}" x2="{x1:.2f}" y1="{rows_top - 8}" y2="{rows_top - 8}" stroke="#cccccc"/>')
        for edge in (x0, x1):
            out.append(f'<line x1="{edge:.2f}" x2="{edge:.2f}" y1="{rows_top - 12}" y2="{rows_bottom}" '
                       f'stroke="#cccccc" stroke-opacity="0.5"/>')
        out.append(f'<text x="{(x0 + x1) / 2:.2f}" y="{rows_top - 12}" fill="#cccccc" font-size="11" '
                   f'text-anchor="middle">{escape(name)}</text>')

    # The CPU temperature, 20 to 70 degrees.
    ty = rows_bottom + 20
    out.append(f'<text x="{left - 10}" y="{ty + TEMP_HEIGHT / 2 + 5}" fill="#eeeeee" text-anchor="end">'
               f'CPU temperature</text>')
    out.append(f'<rect x="{left}" y="{ty}" width="{WIDTH}" height="{TEMP_HEIGHT}" fill="#262626"/>')
    for degrees in (20, 40, 60):
        gy = ty + TEMP_HEIGHT * (1 - (degrees - 20) / 50)
        out.append(f'<line x1="{left}" x2="{left + WIDTH}" y1="{gy:.1f}" y2="{gy:.1f}" stroke="#444444"/>')
        out.append(f'<text x="{left + 4}" y="{gy - 3:.1f}" fill="#888888" font-size="11">{degrees} C</text>')
    points = []
    for arrived, sample in samples:
        if start <= arrived <= show_end:
            degrees = min(70.0, max(20.0, sample["temp"] / 10.0))
            points.append(f"{x(arrived - start):.1f},{ty + TEMP_HEIGHT * (1 - (degrees - 20) / 50):.1f}")
    if points:
        out.append(f'<polyline points="{" ".join(points)}" fill="none" stroke="#ff9040" stroke-width="2"/>')

    # Time axis.
    axis_y = ty + TEMP_HEIGHT + 18
    step = 5 if span <= 90 else 10
    t = 0
    while t <= span:
        out.append(f'<line x1="{x(t):.1f}" x2="{x(t):.1f}" y1="{rows_top}" y2="{ty + TEMP_HEIGHT}" '
                   f'stroke="#ffffff" stroke-opacity="0.08"/>')
        out.append(f'<text x="{x(t):.1f}" y="{axis_y}" fill="#aaaaaa" text-anchor="middle">{t} s</text>')
        t += step
    out.append("</svg>")
    path.write_text("\n".join(out) + "\n")
