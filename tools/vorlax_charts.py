"""Draws VORLAX runs with matplotlib (Agg, no display needed): a line chart
of runs against time, and a bar chart of a sweep's sustained rates. The
picture's format follows the output file's extension: .svg or .png."""

import os
import re
from typing import List, NamedTuple, Optional, Sequence, Tuple

from vorlax_log import Run, ToolError, unique_labels

DPI = 100
FORMATS = (".svg", ".png")


class ChartError(ToolError):
    """A picture that cannot be drawn: no matplotlib, a bad name or size, a
    file that cannot be written."""


def _config_folder() -> None:
    """matplotlib keeps a font cache in its config folder and warns where it
    cannot write one (a user such as nobody): give it a temporary one,
    removed at exit."""
    if "MPLCONFIGDIR" in os.environ:
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


def _pyplot():
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


def _figure(pyplot, width_px: int, height_px: int, width_ratios: Optional[List[int]] = None):
    """A figure of one panel, or of panels side by side in width_ratios."""
    if width_px < 100 or height_px < 100:
        raise ChartError("picture size %dx%d is too small; use at least 100x100 pixels" % (width_px, height_px))
    if width_ratios:
        return pyplot.subplots(1, len(width_ratios), figsize=(width_px / DPI, height_px / DPI), dpi=DPI,
                               gridspec_kw={"width_ratios": width_ratios})
    return pyplot.subplots(figsize=(width_px / DPI, height_px / DPI), dpi=DPI)


def _save(pyplot, figure, path: str) -> None:
    kind = check_output_path(path)
    try:
        figure.savefig(path, format=kind, dpi=DPI)
    except OSError as error:
        raise ChartError("%s: cannot write: %s" % (path, error.strerror or error)) from None
    finally:
        pyplot.close(figure)


class RankFigure(NamedTuple):
    rank: int
    host: str
    mbps: Optional[int]   # None for a rank that failed before it wrote


RANK_ROW = re.compile(r"rank (\d+) on (.+): \d+ MB written in [0-9.]+ s, (\d+) MB/s(?:, fell short)?")
FAILED_RANK = re.compile(r"failed: rank (\d+) on (.+?): .*")


def rank_figures(run: Run) -> List[RankFigure]:
    """The per-rank rows of a vorlax-mpi summary, in the order printed:
    each rank's own MB/s, or None for a rank named as failed."""
    figures = []
    for line in run.summary:
        row, failed = RANK_ROW.fullmatch(line), FAILED_RANK.fullmatch(line)
        if row:
            figures.append(RankFigure(int(row.group(1)), row.group(2), int(row.group(3))))
        elif failed:
            figures.append(RankFigure(int(failed.group(1)), failed.group(2), None))
    return figures


def _plot_rank_bars(axes, runs: Sequence[Run], legends: List[str], colours: List[str]) -> None:
    """Each MPI run's ranks as bars of their own MB/s, in the run's colour,
    runs side by side; a failed rank is a gap marked "failed"."""
    at, ticks, names, with_hosts = 0.0, [], [], False
    for number, run in enumerate(runs):
        figures = rank_figures(run)
        if not figures:
            continue
        xs = [at + i for i in range(len(figures))]
        bars = axes.bar(xs, [f.mbps or 0 for f in figures], 0.7, color=colours[number % len(colours)],
                        label=legends[number])
        axes.bar_label(bars, labels=["failed" if f.mbps is None else "%d" % f.mbps for f in figures],
                       fontsize="x-small", padding=2, rotation=90 if len(figures) > 8 else 0)
        ticks += xs
        several_hosts = len({f.host for f in figures}) > 1
        with_hosts = with_hosts or several_hosts
        names += ["%d on %s" % (f.rank, f.host) if several_hosts else "%d" % f.rank for f in figures]
        at += len(figures) + 1
    axes.set_xticks(ticks, names, fontsize="x-small", rotation=90 if with_hosts else 0)
    axes.set_xlabel("rank on host" if with_hosts else "rank")
    axes.set_ylabel("the rank's own MB/s (summary)")
    axes.set_ylim(0, axes.get_ylim()[1] * 1.15)
    axes.grid(True, axis="y", alpha=0.3)
    axes.set_title("per rank", fontsize="medium")


def default_title(runs: Sequence[Run]) -> str:
    kinds = sorted({"reads" if run.reading else "writes" for run in runs}, reverse=True)
    return "VORLAX: sequential " + " and ".join(kinds)


def plot_runs(runs: Sequence[Run], labels: Sequence[Optional[str]], path: str,
              width_px: int = 1000, height_px: int = 560, title: Optional[str] = None, x: str = "s") -> None:
    """One colour per run: its incremental MB/s (thin line, dots) and its
    sustained MB/s (thick dashed line) against elapsed seconds (x "s") or
    its GB written (x "gb"); a run of a single progress line is one point.
    Each completion line (of any rank) is a tick of that colour on that
    axis. The per-rank rows of vorlax-mpi summaries are bars in a panel of
    their own. Legends never repeat (see unique_labels) and name only what
    is drawn."""
    check_output_path(path)
    pyplot = _pyplot()
    legends = unique_labels(list(runs), list(labels))
    with_ranks = any(rank_figures(run) for run in runs)
    if with_ranks:
        figure, (axes, rank_axes) = _figure(pyplot, width_px, height_px, [3, 1])
    else:
        figure, axes = _figure(pyplot, width_px, height_px)
    colours = pyplot.rcParams["axes.prop_cycle"].by_key()["color"]
    for number, run in enumerate(runs):
        colour = colours[number % len(colours)]
        label = legends[number]
        at = {s.elapsed_ms: s.total_mb / 1024.0 if x == "gb" else s.elapsed_s for s in run.samples}
        seconds = [at[sample.elapsed_ms] for sample in run.samples]
        if len(run.samples) < 2:
            # One line is one point: its sustained and incremental rates
            # cover the same second.
            axes.plot(seconds, [s.sustained_mbps for s in run.samples], color=colour, linestyle="none",
                      marker="o", markersize=7, label=label + " (one progress line)")
        else:
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
    if with_ranks:
        _plot_rank_bars(rank_axes, runs, legends, colours)
        figure.suptitle(title or default_title(runs))
    else:
        axes.set_title(title or default_title(runs))
    figure.tight_layout()
    _save(pyplot, figure, path)


def plot_bars(names: List[str], groups: List[str], values: List[List[Optional[float]]], path: str,
              width_px: int = 1000, height_px: int = 560, title: Optional[str] = None,
              spans: Optional[List[List[Optional[Tuple[float, float]]]]] = None,
              colour_of: Optional[List[int]] = None, hatched: Optional[List[bool]] = None,
              span_label: str = "worst to best run (bar: the median)") -> None:
    """Grouped bars: values[g][n] is the bar of names[n] in groups[g] (None
    leaves a gap, such as for a run that did not finish), each bar labelled
    with its figure; spans[g][n], when given, a whisker with caps from low
    to high, explained in the legend by span_label, with the bar's label
    above it.
    colour_of[n] picks bar n's colour (default: its own), hatched[n] hatches
    it (bars of one colour told apart)."""
    check_output_path(path)
    pyplot = _pyplot()
    figure, axes = _figure(pyplot, width_px, height_px)
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
            axes.annotate("%d" % value, (x, above), xytext=(0, 2), textcoords="offset points", ha="center",
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
    figure.tight_layout()
    _save(pyplot, figure, path)
