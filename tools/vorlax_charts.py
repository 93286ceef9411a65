"""Draws VORLAX runs with matplotlib (Agg, no display needed): a line chart
of runs against time, and a bar chart of a sweep's sustained rates. The
picture's format follows the output file's extension: .svg or .png."""

import os
from typing import List, Optional, Sequence, Tuple

from vorlax_log import Run, ToolError, unique_labels

DPI = 100
FORMATS = (".svg", ".png")


class ChartError(ToolError):
    """A picture that cannot be drawn: no matplotlib, a bad name or size, a
    file that cannot be written."""


def _pyplot():
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


def _figure(pyplot, width_px: int, height_px: int):
    if width_px < 100 or height_px < 100:
        raise ChartError("picture size %dx%d is too small; use at least 100x100 pixels" % (width_px, height_px))
    return pyplot.subplots(figsize=(width_px / DPI, height_px / DPI), dpi=DPI)


def _save(pyplot, figure, path: str) -> None:
    kind = check_output_path(path)
    try:
        figure.savefig(path, format=kind, dpi=DPI)
    except OSError as error:
        raise ChartError("%s: cannot write: %s" % (path, error.strerror or error)) from None
    finally:
        pyplot.close(figure)


def default_title(runs: Sequence[Run]) -> str:
    kinds = sorted({"reads" if run.reading else "writes" for run in runs}, reverse=True)
    return "VORLAX: sequential " + " and ".join(kinds)


def plot_runs(runs: Sequence[Run], labels: Sequence[Optional[str]], path: str,
              width_px: int = 1000, height_px: int = 560, title: Optional[str] = None, x: str = "s") -> None:
    """One colour per run: its incremental MB/s (thin line, dots) and its
    sustained MB/s (thick dashed line) against elapsed seconds (x "s") or
    its GB written (x "gb"); each completion line (of any rank) is a tick
    of that colour on that axis. Legends never repeat (see unique_labels)."""
    check_output_path(path)
    pyplot = _pyplot()
    figure, axes = _figure(pyplot, width_px, height_px)
    colours = pyplot.rcParams["axes.prop_cycle"].by_key()["color"]
    legends = unique_labels(list(runs), list(labels))
    for number, run in enumerate(runs):
        colour = colours[number % len(colours)]
        label = legends[number]
        at = {s.elapsed_ms: s.total_mb / 1024.0 if x == "gb" else s.elapsed_s for s in run.samples}
        seconds = [at[sample.elapsed_ms] for sample in run.samples]
        axes.plot(seconds, [s.incremental_mbps for s in run.samples], color=colour, linewidth=1,
                  marker=".", markersize=4, label=label + " incremental")
        axes.plot(seconds, [s.sustained_mbps for s in run.samples], color=colour, linewidth=2.2,
                  linestyle="--", label=label + " sustained")
        done_s = [at[completion.elapsed_ms] for completion in run.completions]
        if done_s:
            # Ticks just above the time axis, whatever the rate scale.
            axes.plot(done_s, [0] * len(done_s), linestyle="none", marker="^", markersize=9, color=colour,
                      markeredgecolor="black", markeredgewidth=0.5, clip_on=False, zorder=5,
                      transform=axes.get_xaxis_transform())
    axes.set_xlabel(("GB written (GB = 2^30 bytes)" if x == "gb" else "elapsed time (s)") + "; \u25b2 a thread done")
    axes.set_ylabel("MB/s (MB = 2^20 bytes)")
    top = max([max(s.incremental_mbps, s.sustained_mbps) for run in runs for s in run.samples] + [1])
    axes.set_xlim(left=0)
    axes.set_ylim(0, top * 1.15)  # room for the legend above the lines
    axes.grid(True, alpha=0.3)
    axes.legend(fontsize="small", loc="best")
    axes.set_title(title or default_title(runs))
    figure.tight_layout()
    _save(pyplot, figure, path)


def plot_bars(names: List[str], groups: List[str], values: List[List[Optional[float]]], path: str,
              width_px: int = 1000, height_px: int = 560, title: Optional[str] = None,
              spans: Optional[List[List[Optional[Tuple[float, float]]]]] = None,
              colour_of: Optional[List[int]] = None, hatched: Optional[List[bool]] = None) -> None:
    """Grouped bars: values[g][n] is the bar of names[n] in groups[g] (None
    leaves a gap, such as for a run that did not finish), each bar labelled
    with its figure; spans[g][n], when given, a whisker from low to high.
    colour_of[n] picks bar n's colour (default: its own), hatched[n] hatches
    it (bars of one colour told apart)."""
    check_output_path(path)
    pyplot = _pyplot()
    figure, axes = _figure(pyplot, width_px, height_px)
    colours = pyplot.rcParams["axes.prop_cycle"].by_key()["color"]
    width = 0.8 / max(1, len(names))
    for number, name in enumerate(names):
        xs = [g + (number - (len(names) - 1) / 2) * width for g in range(len(groups))]
        heights = [row[number] if row[number] is not None else 0 for row in values]
        colour = colours[(colour_of[number] if colour_of else number) % len(colours)]
        hatch = "//" if hatched and hatched[number] else None
        bars = axes.bar(xs, heights, width, label=name, color="white" if hatch else colour,
                        edgecolor=colour, hatch=hatch, linewidth=1)
        axes.bar_label(bars, labels=["" if row[number] is None else "%d" % row[number] for row in values],
                       fontsize="x-small", padding=2)
        whiskers = [(x, row[number]) for x, row in zip(xs, spans or []) if row[number] is not None]
        if whiskers:
            axes.vlines([x for x, _ in whiskers], [low for _, (low, _) in whiskers],
                        [high for _, (_, high) in whiskers], color="black", linewidth=1)
    axes.set_xticks(range(len(groups)), groups)
    axes.set_xlabel("block size")
    axes.set_ylabel("sustained MB/s at the end of the run")
    axes.grid(True, axis="y", alpha=0.3)
    axes.legend(fontsize="small")
    axes.set_title(title or "VORLAX sweep", fontsize="medium")
    figure.tight_layout()
    _save(pyplot, figure, path)
