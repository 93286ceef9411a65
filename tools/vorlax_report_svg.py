"""The report's charts as inline SVG text: lines over time (each series
drawn as its envelope per pixel column), shaded spans, marks and a second
axis on top; and MB/s against block size with whiskers. Every text put in
is escaped here."""

import math
from html import escape
from typing import List, Optional, Sequence, Tuple


def envelope(xs: Sequence[float], ys: Sequence[Optional[float]], x_low: float, x_high: float,
             columns: int) -> List[Tuple[float, float]]:
    """The points to draw of a series over `columns` pixel columns from
    x_low to x_high: every point when there are no more than two a column,
    else per column its minimum and maximum, in the order they came (at
    most 2 * columns points). None values are left out."""
    points = [(x, y) for x, y in zip(xs, ys) if y is not None]
    if len(points) <= 2 * columns:
        return points
    width = (x_high - x_low) / columns or 1.0
    out: List[Tuple[float, float]] = []
    column_of = -1
    low = high = points[0]
    for point in points:
        column = min(columns - 1, max(0, int((point[0] - x_low) / width)))
        if column != column_of:
            if column_of >= 0:
                out += [low, high] if low[0] < high[0] else [high, low] if high[0] < low[0] else [low]
            column_of, low, high = column, point, point
        elif point[1] < low[1]:
            low = point
        elif point[1] > high[1]:
            high = point
    out += [low, high] if low[0] < high[0] else [high, low] if high[0] < low[0] else [low]
    return out


COLOURS = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#17becf", "#8c564b", "#e377c2"]
WIDTH, LEFT, RIGHT, TOP, BOTTOM = 960, 70, 16, 40, 42


def nice_ticks(low: float, high: float, count: int = 6) -> List[float]:
    """About `count` round values from low to high (1, 2 or 5 times a power of ten apart)."""
    if not high > low:
        high = low + 1.0
    raw = (high - low) / count
    power = 10 ** math.floor(math.log10(raw))
    step = next(m * power for m in (1, 2, 5, 10) if m * power >= raw)
    first = math.ceil(low / step - 1e-9)
    return [round(n * step, 10) for n in range(first, int(math.floor(high / step + 1e-9)) + 1)]


def tick_text(value: float) -> str:
    return "{:,.0f}".format(value) if abs(value) >= 10 or value == int(value) else "%g" % value


class Frame:
    """The plot area of a chart and its scales: x linear, y linear or log10."""

    def __init__(self, height: int, x_range, y_range, log_y: bool = False):
        self.height, self.log_y = height, log_y
        self.x0, self.x1 = x_range
        if self.x1 <= self.x0:
            self.x1 = self.x0 + 1.0
        low, high = y_range
        if log_y:
            low, high = math.log10(max(low, 1e-3)), math.log10(max(high, low * 10, 1e-2))
        self.y0, self.y1 = (low, high) if high > low else (low, low + 1.0)
        self.width_px = WIDTH - LEFT - RIGHT
        self.height_px = height - TOP - BOTTOM

    def x(self, value: float) -> float:
        return LEFT + (value - self.x0) / (self.x1 - self.x0) * self.width_px

    def y(self, value: float) -> float:
        if self.log_y:
            value = math.log10(max(value, 1e-3))
        share = (value - self.y0) / (self.y1 - self.y0)
        return TOP + (1.0 - min(1.0, max(0.0, share))) * self.height_px

    def y_ticks(self) -> List[float]:
        if self.log_y:
            steps = (1, 2, 5) if self.y1 - self.y0 < 2.5 else (1,)
            return [m * 10.0 ** n for n in range(math.floor(self.y0), math.ceil(self.y1) + 1) for m in steps
                    if self.y0 - 1e-9 <= math.log10(m * 10.0 ** n) <= self.y1 + 1e-9]
        return nice_ticks(self.y0, self.y1)


def _open(frame: Frame, label: str, klass: str) -> List[str]:
    return ['<svg class="chart %s" viewBox="0 0 %d %d" width="100%%" role="img" aria-label="%s" '
            'xmlns="http://www.w3.org/2000/svg">' % (klass, WIDTH, frame.height, escape(label)),
            '<rect class="area" x="%d" y="%d" width="%d" height="%d" fill="#fbfbfb" stroke="#999"/>' % (
                LEFT, TOP, frame.width_px, frame.height_px)]


def _axes(frame: Frame, x_label: str, y_label: str, x_ticks: Sequence[float]) -> List[str]:
    out = []
    bottom = TOP + frame.height_px
    for value in x_ticks:
        x = frame.x(value)
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/><text x="%.1f" y="%d" '
                   'text-anchor="middle">%s</text>' % (x, TOP, x, bottom, x, bottom + 15, tick_text(value)))
    for value in frame.y_ticks():
        y = frame.y(value)
        out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#ddd"/><text x="%d" y="%.1f" '
                   'text-anchor="end">%s</text>' % (LEFT, y, LEFT + frame.width_px, y, LEFT - 5, y + 4,
                                                    tick_text(value)))
    out.append('<text x="%d" y="%d" text-anchor="middle">%s</text>' % (
        LEFT + frame.width_px // 2, frame.height - 6, escape(x_label)))
    out.append('<text x="14" y="%d" text-anchor="middle" transform="rotate(-90 14 %d)">%s</text>' % (
        TOP + frame.height_px // 2, TOP + frame.height_px // 2, escape(y_label)))
    return out


def _polyline(frame: Frame, points, colour: str, label: str, dx_px: float = 0.0) -> str:
    text = " ".join("%.1f,%.1f" % (frame.x(x) + dx_px, frame.y(y)) for x, y in points)
    return '<polyline class="series" fill="none" stroke="%s" stroke-width="1.3" points="%s"><title>%s</title>' \
           '</polyline>' % (colour, text, escape(label))


def _legend(names: Sequence[str]) -> List[str]:
    out, x = [], LEFT + 6
    for number, name in enumerate(names):
        out.append('<rect x="%d" y="8" width="12" height="4" fill="%s"/><text x="%d" y="14">%s</text>' % (
            x, COLOURS[number % len(COLOURS)], x + 16, escape(name)))
        x += 30 + 7 * len(name)
    return out


def time_chart(series, x_label: str, y_label: str, height: int = 300, spans=(), marks=(), top_ticks=(),
               log_y: bool = False, level: Optional[Tuple[float, str]] = None, label: str = "chart") -> str:
    """series: (name, xs, ys) drawn as envelopes; spans: (x0, x1, fill,
    title) shaded; marks: (x, y, title) red dots with a line down; top_ticks:
    (x, text) of a second axis on top; level: (y, text) a dashed line across.
    Values None are left out."""
    xs_all = [x for _, xs, _ in series for x in xs]
    ys_all = [y for _, _, ys in series for y in ys if y is not None] + [m[1] for m in marks]
    x_range = (min(xs_all + [0.0]), max(xs_all + [1.0]))
    low = min(ys_all) if log_y and ys_all else 0.0
    high = max(ys_all + [level[0] if level else 0.0, 1e-9]) * (1.5 if log_y else 1.08)
    frame = Frame(height, x_range, (low * 0.7 if log_y else low, high), log_y)
    out = _open(frame, label, "time")
    for x0, x1, fill, title in spans:
        out.append('<rect x="%.1f" y="%d" width="%.1f" height="%d" fill="%s"><title>%s</title></rect>' % (
            frame.x(x0), TOP, max(1.0, frame.x(x1) - frame.x(x0)), frame.height_px, fill, escape(title)))
    out += _axes(frame, x_label, y_label, nice_ticks(frame.x0, frame.x1, 10))
    for x, text in top_ticks:
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#555"/><text class="top" x="%.1f" y="%d" '
                   'text-anchor="middle">%s</text>' % (frame.x(x), TOP - 4, frame.x(x), TOP, frame.x(x), TOP - 7,
                                                       escape(text)))
    if level:
        out.append('<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#d62728" stroke-dasharray="6,3"/><text '
                   'x="%d" y="%.1f" text-anchor="end" class="level">%s</text>' % (
                       LEFT, frame.y(level[0]), LEFT + frame.width_px, frame.y(level[0]), LEFT + frame.width_px - 4,
                       frame.y(level[0]) - 4, escape(level[1])))
    for number, (name, xs, ys) in enumerate(series):
        points = envelope(xs, ys, frame.x0, frame.x1, frame.width_px)
        out.append(_polyline(frame, points, COLOURS[number % len(COLOURS)], name))
        if len(points) < 3:  # a line of one or two points is hard to see: each is a dot too
            out += ['<circle cx="%.1f" cy="%.1f" r="4" fill="%s"/>' % (
                frame.x(x), frame.y(y), COLOURS[number % len(COLOURS)]) for x, y in points]
    for x, y, title in marks:
        out.append('<g class="stall"><line x1="%.1f" y1="%.1f" x2="%.1f" y2="%d" stroke="#d62728" '
                   'stroke-dasharray="3,2"/><circle cx="%.1f" cy="%.1f" r="4" fill="#d62728"/><title>%s</title></g>'
                   % (frame.x(x), frame.y(y), frame.x(x), TOP + frame.height_px, frame.x(x), frame.y(y),
                      escape(title)))
    if len(series) > 1:
        out += _legend([name for name, _, _ in series])
    return "\n".join(out + ["</svg>"])


def block_chart(lines: Sequence[Tuple[str, List[Tuple[float, float, float, float]]]], height: int = 320,
                label: str = "MB/s against block size") -> str:
    """One line per (name, [(block KB, median, worst, best)]), on a log2
    axis of block size, each point with a whisker from worst to best."""
    blocks = sorted({point[0] for _, points in lines for point in points}) or [1.0]
    top = max([point[3] for _, points in lines for point in points] + [1.0])
    frame = Frame(height, (math.log2(blocks[0]) - 0.5, math.log2(blocks[-1]) + 0.5), (0.0, top * 1.08))
    out = _open(frame, label, "blocks")
    out += _axes(frame, "block size (KB)", "MB/s", [])
    bottom = TOP + frame.height_px
    for block in blocks:
        x = frame.x(math.log2(block))
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%gK</text>' % (x, bottom + 15, block))
    for number, (name, points) in enumerate(lines):
        colour = COLOURS[number % len(COLOURS)]
        place = [(math.log2(block), median) for block, median, _, _ in points]
        dx_px = 3 * (number - len(lines) / 2.0)  # whiskers of equal figures side by side
        out.append(_polyline(frame, place, colour, name, dx_px))
        for block, median, worst, best in points:
            x = frame.x(math.log2(block)) + dx_px
            out.append('<line x1="%.1f" y1="%.1f" x2="%.1f" y2="%.1f" stroke="%s" stroke-width="1.5"/>'
                       '<circle cx="%.1f" cy="%.1f" r="3" fill="%s"><title>%s: %s MB/s</title></circle>' % (
                           x, frame.y(worst), x, frame.y(best), colour, x, frame.y(median), colour,
                           escape("%s %gK" % (name, block)), tick_text(median)))
    out += _legend([name for name, _ in lines])
    return "\n".join(out + ["</svg>"])
