"""Draws with matplotlib (Agg, no display needed): what every chart shares
(the figure, its size and dpi, saving by the file's extension: .svg or
.png) and the bar chart of a sweep's sustained rates. The chart of runs
against time is vorlax_run_chart."""

import math
import os
from typing import List, Optional, Tuple

from vorlax_errors import os_reason
from vorlax_log import ToolError

DPI = 100
FORMATS = (".svg", ".png")


class ChartError(ToolError):
    """A picture that cannot be drawn: no matplotlib, a bad name or size, a
    file that cannot be written."""


def _config_folder() -> None:
    """matplotlib keeps a font cache in its config folder and warns where it
    cannot write one (a user such as nobody): give it a temporary one,
    removed at exit."""
    if os.environ.get("MPLCONFIGDIR"):
        return
    base = os.environ.get("XDG_CONFIG_HOME") or os.path.join(os.path.expanduser("~"), ".config")
    folder = os.path.join(base, "matplotlib")
    try:
        os.makedirs(folder, exist_ok=True)
        if os.access(folder, os.W_OK | os.X_OK):
            return
    except OSError:
        pass
    import atexit
    import shutil
    import tempfile
    os.environ["MPLCONFIGDIR"] = tempfile.mkdtemp(prefix="vorlax-matplotlib-")
    atexit.register(shutil.rmtree, os.environ["MPLCONFIGDIR"], True)


def load_pyplot():
    _config_folder()
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as pyplot
    except ImportError:
        raise ChartError("matplotlib is missing: install it (Debian: apt-get install python3-matplotlib) "
                       "and run the tool with /usr/bin/python3") from None
    return pyplot


def check_output_path(path: str) -> str:
    """The picture format for path ("svg" or "png"); raises ChartError for
    any other extension."""
    extension = os.path.splitext(path)[1].lower()
    if extension not in FORMATS:
        raise ChartError("%s: the picture's name must end in .svg or .png" % path)
    return extension[1:]


MAX_PX = 10000
MIN_WIDTH_IN, MIN_HEIGHT_IN = 5.0, 3.0   # the least the text, sized in points, needs: pixels over dpi


def check_size(width_px: int, height_px: int, dpi: int = DPI) -> None:
    """Raises ChartError for a picture size or a dpi out of range, or a
    size in inches (px / dpi) too small for the text, naming a size that
    works."""
    if width_px < 1 or height_px < 1:
        raise ChartError("picture size %dx%d is too small; use at least 500x300 pixels" % (width_px, height_px))
    if width_px > MAX_PX or height_px > MAX_PX:
        raise ChartError("picture size %dx%d is too large; use at most %dx%d pixels" % (
            width_px, height_px, MAX_PX, MAX_PX))
    if not 50 <= dpi <= 1000:
        raise ChartError("--dpi %d is out of range; use 50 to 1000 (100 draws text at its usual size)" % dpi)
    if width_px / dpi < MIN_WIDTH_IN or height_px / dpi < MIN_HEIGHT_IN:
        fit_dpi = int(min(width_px / MIN_WIDTH_IN, height_px / MIN_HEIGHT_IN))
        works = (width_px, height_px, fit_dpi) if fit_dpi >= 50 else (
            max(width_px, math.ceil(MIN_WIDTH_IN * dpi)), max(height_px, math.ceil(MIN_HEIGHT_IN * dpi)), dpi)
        raise ChartError("picture size %dx%d at --dpi %d is %.1f x %.1f inches, too small for its text (at least "
                         "%.0f x %.0f inches: pixels over dpi); try --width %d --height %d --dpi %d" % (
                             width_px, height_px, dpi, width_px / dpi, height_px / dpi, MIN_WIDTH_IN, MIN_HEIGHT_IN,
                             *works))


def tidy(figure) -> None:
    """tight_layout without its warnings: where it cannot fit everything,
    the figure stays as laid out, and no warning reaches the user."""
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        figure.tight_layout()


def inches(width_px: int, height_px: int, dpi: int) -> Tuple[float, float]:
    """The figure size that saves as width_px x height_px at dpi (a hair
    more, as matplotlib rounds the pixels down)."""
    return (width_px + 1e-9) / dpi, (height_px + 1e-9) / dpi


def new_figure(pyplot, width_px: int, height_px: int, width_ratios: Optional[List[int]] = None, dpi: int = DPI):
    """A figure of one panel, or of panels side by side in width_ratios;
    text is sized in points, so a higher dpi draws it larger on the same
    pixels."""
    check_size(width_px, height_px, dpi)
    if width_ratios:
        return pyplot.subplots(1, len(width_ratios), figsize=inches(width_px, height_px, dpi), dpi=dpi,
                               gridspec_kw={"width_ratios": width_ratios})
    return pyplot.subplots(figsize=inches(width_px, height_px, dpi), dpi=dpi)


def save_figure(pyplot, figure, path: str) -> None:
    kind = check_output_path(path)
    try:
        figure.savefig(path, format=kind, dpi=figure.dpi)
    except OSError as error:
        raise ChartError("%s: cannot write: %s" % (path, os_reason(error))) from None
    finally:
        pyplot.close(figure)


def plot_bars(names: List[str], groups: List[str], values: List[List[Optional[float]]], path: str,
              width_px: int = 1000, height_px: int = 560, title: Optional[str] = None,
              spans: Optional[List[List[Optional[Tuple[float, float]]]]] = None,
              colour_of: Optional[List[int]] = None, hatched: Optional[List[bool]] = None,
              span_label: str = "worst to best run (bar: the median)",
              gap_texts: Optional[List[List[Optional[str]]]] = None) -> None:
    """Grouped bars: values[g][n] is the bar of names[n] in groups[g] (None
    leaves a gap, such as for a run that did not finish), each bar labelled
    with its figure; spans[g][n], when given, a whisker with caps from low
    to high, explained in the legend by span_label, with the bar's label
    above it.
    colour_of[n] picks bar n's colour (default: its own), hatched[n] hatches
    it (bars of one colour told apart). gap_texts[g][n], when given, is
    written where a bar is missing ("failed"). Labels are rounded as the
    tables round: whole numbers, halves with one decimal."""
    check_output_path(path)
    pyplot = load_pyplot()
    figure, axes = new_figure(pyplot, width_px, height_px)
    colours = pyplot.rcParams["axes.prop_cycle"].by_key()["color"]
    width = 0.8 / max(1, len(names))
    whisker_label = span_label
    top = 1.0
    for number, name in enumerate(names):
        xs = [g + (number - (len(names) - 1) / 2) * width for g in range(len(groups))]
        heights = [row[number] if row[number] is not None else 0 for row in values]
        colour = colours[(colour_of[number] if colour_of else number) % len(colours)]
        hatch = "//" if hatched and hatched[number] else None
        axes.bar(xs, heights, width, label=name, color="white" if hatch else colour,
                 edgecolor=colour, hatch=hatch, linewidth=1)
        for g, x in enumerate(xs):
            value = values[g][number]
            if value is None:
                if gap_texts and gap_texts[g][number]:
                    axes.annotate(gap_texts[g][number], (x, 0), xytext=(0, 3), textcoords="offset points",
                                  ha="center", va="bottom", rotation=90, fontsize="x-small", color="#b00000")
                continue
            span = spans[g][number] if spans else None
            if span is not None:
                low, high = span
                axes.errorbar([x], [value], yerr=[[max(0, value - low)], [max(0, high - value)]], fmt="none",
                              ecolor="black", elinewidth=1, capsize=3, label=whisker_label)
                whisker_label = "_nolegend_"  # once in the legend
            # The label sits above the bar and its whisker, never across it.
            above = max(value, span[1] if span is not None else value)
            top = max(top, above)
            axes.annotate("%d" % value if value == int(value) else "%.1f" % value, (x, above), xytext=(0, 2), textcoords="offset points", ha="center",
                          va="bottom", fontsize="x-small")
    axes.set_ylim(0, top * 1.12)
    axes.set_xticks(range(len(groups)), groups)
    axes.set_xlabel("block size")
    axes.set_ylabel("sustained MB/s at the end of the run")
    axes.grid(True, axis="y", alpha=0.3)
    handles, texts = axes.get_legend_handles_labels()
    order = sorted(range(len(texts)), key=lambda i: texts[i] == span_label)  # the whisker last
    axes.legend([handles[i] for i in order], [texts[i] for i in order], fontsize="small")
    axes.set_title(title or "VORLAX sweep", fontsize="medium")
    tidy(figure)
    save_figure(pyplot, figure, path)
