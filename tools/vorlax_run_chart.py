"""The chart of runs against time (vorlax-plot): each run's incremental and
sustained MB/s, its threads' ends, a run that fell short drawn as such, and
the per-rank rows of vorlax-mpi summaries in a panel of their own."""

import os
from typing import List, Optional, Sequence

from vorlax_charts import DPI, new_figure, load_pyplot, save_figure, check_output_path, check_size, tidy
from vorlax_log import Run, rank_rows

# A run's look: colour i % 10 with marker i // 10, so that no two runs
# share both; a run that fell short draws dotted lines.
MARKERS = (".", "x", "+", "s", "^", "v", "d", "*")
LEGEND_INSIDE = 6   # legend entries that fit inside the plot; more go beside it


def unique_labels(runs: List[Run], given: List[Optional[str]]) -> List[str]:
    """A legend entry per run, no two alike: given[i] when there is one,
    else the run's own label; where entries agree, the log's file name is
    added, where they still agree also the run's number in its log, and
    then the log's whole path."""
    base = [given[i] if i < len(given) and given[i] else run.label() for i, run in enumerate(runs)]
    numbers = [sum(1 for earlier in runs[:i] if earlier.source == run.source) + 1 for i, run in enumerate(runs)]
    wheres = [lambda i: os.path.basename(runs[i].source).strip("<>"),
              lambda i: "%s, run %d" % (os.path.basename(runs[i].source).strip("<>"), numbers[i]),
              lambda i: "%s, run %d" % (runs[i].source, numbers[i])]
    labels = list(base)
    for where in wheres:
        repeated = {label for label in labels if labels.count(label) > 1}
        labels = ["%s (%s)" % (base[i], where(i)) if labels[i] in repeated else labels[i] for i in range(len(runs))]
    return labels


def run_note(run: Run) -> str:
    """"" for a whole run, else " (failed: full disk)" or " (incomplete)"."""
    shortfall = run.shortfall()
    return " (%s)" % shortfall if shortfall else ""


def _plot_rank_bars(axes, runs: Sequence[Run], legends: List[str], colours: List[str]) -> None:
    """Each MPI run's ranks as bars of their own MB/s, in the run's colour,
    runs side by side; a failed rank is a gap marked "failed"."""
    at, ticks, names, with_hosts = 0.0, [], [], False
    for number, run in enumerate(runs):
        rows = rank_rows(run)
        if not rows:
            continue
        xs = [at + i for i in range(len(rows))]
        bars = axes.bar(xs, [row.mbps or 0 for row in rows], 0.7, color=colours[number % len(colours)],
                        label=legends[number])
        axes.bar_label(bars, labels=["failed" if row.mbps is None else "%d" % row.mbps for row in rows],
                       fontsize="x-small", padding=2, rotation=90 if len(rows) > 8 else 0)
        ticks += xs
        several_hosts = len({row.host for row in rows}) > 1
        with_hosts = with_hosts or several_hosts
        names += ["%d on %s" % (row.rank, row.host) if several_hosts else "%d" % row.rank for row in rows]
        at += len(rows) + 1
    axes.set_xticks(ticks, names, fontsize="x-small", rotation=90 if with_hosts else 0)
    axes.set_xlabel("rank on host" if with_hosts else "rank")
    axes.set_ylabel("the rank's own MB/s (summary)")
    axes.set_ylim(0, axes.get_ylim()[1] * 1.15)
    axes.grid(True, axis="y", alpha=0.3)
    axes.set_title("per rank", fontsize="medium")


def latency_figure(pyplot, width_px: int, height_px: int, with_ranks: bool, dpi: int):
    """The rate's panel over a lower latency panel that shares its x axis,
    and the ranks' panel beside both when with_ranks: (figure, axes,
    rank_axes or None, latency_axes)."""
    check_size(width_px, height_px, dpi)
    figure = pyplot.figure(figsize=(width_px / dpi, height_px / dpi), dpi=dpi)
    grid = figure.add_gridspec(2, 2 if with_ranks else 1, height_ratios=[3, 1.4],
                               width_ratios=[3, 1] if with_ranks else None)
    axes = figure.add_subplot(grid[0, 0])
    latency_axes = figure.add_subplot(grid[1, 0], sharex=axes)
    return figure, axes, figure.add_subplot(grid[:, 1]) if with_ranks else None, latency_axes


def latency_points(run: Run, place):
    """([(x, ms)] of run's timed progress lines, [(x, ms)] of its listed
    stalls where they began, its stall threshold or None); place maps a
    time in the run (s) to x."""
    stalls = (run.latency or {}).get("stalls") or {}
    return ([(place(s.elapsed_s), ms) for s, ms in zip(run.samples, run.max_ms) if ms is not None],
            [(place(s["at_s"]), s["ms"]) for s in stalls.get("longest") or []], stalls.get("threshold_ms"))


def draw_latency(axes, series, stalls, thresholds) -> None:
    """The latency panel: each (points, colour, label) of series as a line
    on a log axis, stalls as red crosses, each stall threshold dotted."""
    for points, colour, label in series:
        axes.plot([p[0] for p in points], [p[1] for p in points], color=colour, linewidth=1, marker=".",
                  markersize=4, label=label)
    if stalls:
        axes.plot([p[0] for p in stalls], [p[1] for p in stalls], linestyle="none", marker="x", markersize=7,
                  color="red", zorder=5)
    for threshold in sorted(set(thresholds) - {None}):
        axes.axhline(threshold, color="red", linewidth=0.8, linestyle=":",
                     label="stall: %g ms or more (\u00d7 where one began)" % threshold)
    axes.set_yscale("log")
    axes.set_ylabel("slowest block (ms)")
    axes.grid(True, which="both", alpha=0.3)
    axes.legend(fontsize="x-small", loc="best")  # where it covers the fewest lines and stall marks


def _plot_latency(axes, runs: Sequence[Run], legends: List[str], colours: List[str], x: str) -> None:
    """Each record's slowest block of every progress line in its run's
    colour, its stalls where they began (x "gb": at the GB written then)."""
    series, stalls, thresholds = [], [], []
    for number, run in enumerate(runs):
        def place(seconds, run=run):
            before = [s for s in run.samples if s.elapsed_s <= seconds]
            return seconds if x != "gb" else (before[-1].total_mb if before else 0) / 1024.0
        lines, marks, threshold = latency_points(run, place)
        if lines:
            series.append((lines, colours[number % len(colours)], legends[number] + " slowest block"))
        stalls += marks
        thresholds.append(threshold)
    draw_latency(axes, series, stalls, thresholds)


def default_title(runs: Sequence[Run]) -> str:
    kinds = sorted({"reads" if run.reading else "writes" for run in runs}, reverse=True)
    return "VORLAX: sequential " + " and ".join(kinds)


def draw_runs(pyplot, runs: Sequence[Run], labels: Sequence[Optional[str]], width_px: int = 1000,
              height_px: int = 560, title: Optional[str] = None, x: str = "s", dpi: int = DPI):
    """The figure plot_runs() saves."""
    legends = unique_labels(list(runs), list(labels))
    with_ranks = any(rank_rows(run) for run in runs)
    with_latency = any(ms is not None for run in runs for ms in run.max_ms)
    if with_latency:
        figure, axes, rank_axes, latency_axes = latency_figure(pyplot, width_px, height_px, with_ranks, dpi)
    elif with_ranks:
        figure, (axes, rank_axes) = new_figure(pyplot, width_px, height_px, [3, 1], dpi)
    else:
        figure, axes = new_figure(pyplot, width_px, height_px, dpi=dpi)
    colours = pyplot.rcParams["axes.prop_cycle"].by_key()["color"]
    for number, run in enumerate(runs):
        colour, marker = colours[number % len(colours)], MARKERS[number // len(colours) % len(MARKERS)]
        label, note = legends[number], run_note(run)
        whole = not note
        at = {s.elapsed_ms: s.total_mb / 1024.0 if x == "gb" else s.elapsed_s for s in run.samples}
        seconds = [at[sample.elapsed_ms] for sample in run.samples]
        if len(run.samples) < 2:
            # One line is one point: its sustained and incremental rates cover the same second.
            axes.plot(seconds, [s.sustained_mbps for s in run.samples], color=colour, linestyle="none",
                      marker="o" if whole else "X", markersize=7, label=label + " (one progress line)" + note)
        else:
            axes.plot(seconds, [s.incremental_mbps for s in run.samples], color=colour, linewidth=1,
                      linestyle="-" if whole else ":", marker=marker, markersize=4,
                      label=label + " incremental" + note)
            axes.plot(seconds, [s.sustained_mbps for s in run.samples], color=colour, linewidth=2.2,
                      linestyle="--" if whole else (0, (1, 3)), marker=marker if number >= len(colours) else None,
                      markevery=5, label=label + " sustained" + note)
        done_s = [at.get(c.elapsed_ms, c.elapsed_ms / 1000.0) for c in run.completions]
        if done_s:
            # Ticks just above the time axis, whatever the rate scale.
            axes.plot(done_s, [0] * len(done_s), linestyle="none", marker="^", markersize=9, color=colour,
                      markeredgecolor="black", markeredgewidth=0.5, clip_on=False, zorder=5,
                      transform=axes.get_xaxis_transform())
    x_label = ("GB written (GB = 2^30 bytes)" if x == "gb" else "elapsed time (s)") + "; \u25b2 a thread done"
    axes.set_xlabel(x_label)
    axes.set_ylabel("MB/s (MB = 2^20 bytes)")
    top = max([max(s.incremental_mbps, s.sustained_mbps) for run in runs for s in run.samples] + [1])
    axes.set_xlim(left=0)
    axes.set_ylim(0, top * 1.15)  # room for the legend above the lines
    axes.grid(True, alpha=0.3)
    if with_latency:
        _plot_latency(latency_axes, runs, legends, colours, x)
        axes.set_xlabel("")
        latency_axes.set_xlabel(x_label)
    if with_ranks:
        _plot_rank_bars(rank_axes, runs, legends, colours)
        figure.suptitle(title or default_title(runs))
    else:
        axes.set_title(title or default_title(runs))
    if len(axes.get_legend_handles_labels()[1]) > LEGEND_INSIDE:
        _legend_beside(figure, axes)
    else:
        axes.legend(fontsize="small", loc="best")
        tidy(figure)
    return figure


def _legend_beside(figure, axes) -> None:
    """The legend beside the plot, in the first font size and number of
    columns (smaller, then more) with which every entry lies inside the
    figure and the plot keeps a third of its width; where none does, an
    entry per run (its incremental line) and two for the line styles."""
    from matplotlib.lines import Line2D
    renderer = figure.canvas.get_renderer()
    handles, labels = axes.get_legend_handles_labels()
    per_run = [(h, l.replace(" incremental", "")) for h, l in zip(handles, labels) if " sustained" not in l]
    per_run += [(Line2D([], [], color="grey", linewidth=1), "thin line: incremental MB/s"),
                (Line2D([], [], color="grey", linewidth=2.2, linestyle="--"), "thick dashed: sustained MB/s")]
    for entries in ((handles, labels), tuple(zip(*per_run))):
        for size in ("x-small", "xx-small", 5):
            for columns in (1, 2, 3, 4):
                legend = axes.legend(*entries, fontsize=size, loc="upper left", bbox_to_anchor=(1.01, 1.0),
                                     borderaxespad=0, ncol=columns)
                tidy(figure)
                box, whole = legend.get_window_extent(renderer), figure.bbox
                if box.y0 >= whole.y0 and box.y1 <= whole.y1 and box.x1 <= whole.x1 and \
                        axes.get_window_extent(renderer).width >= whole.width / 3:
                    return


def plot_runs(runs: Sequence[Run], labels: Sequence[Optional[str]], path: str, width_px: int = 1000,
              height_px: int = 560, title: Optional[str] = None, x: str = "s", dpi: int = DPI) -> None:
    """One look per run: its incremental MB/s (thin line) and its sustained
    MB/s (thick dashed line) against elapsed seconds (x "s") or its GB
    written (x "gb"), dotted and marked "(failed: ...)" or "(incomplete)"
    in the legend when it fell short; a run of a single progress line is
    one point. Each completion line is a tick of the run's colour on that
    axis (a vorlax-mpi rank's at its own end). Legends never repeat (see
    unique_labels) and stand beside the plot when they are many."""
    check_output_path(path)
    pyplot = load_pyplot()
    save_figure(pyplot, draw_runs(pyplot, runs, labels, width_px, height_px, title, x, dpi), path)
