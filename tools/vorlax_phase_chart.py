"""Draws a long write (runs chained back to back) with its phases: the
per-interval MB/s against GB written (or seconds), each phase shaded and
labelled with its speed, the cliff as a line with its uncertainty, the dips
marked at their middle, and a read back of the same files as a second
curve (a labelled marker when it has one or two samples). The axes are set
by the write: a faster read is cut at the top, marked there with its
figure. A write that fell short is dotted and says why in the legend."""

from typing import Optional, Sequence

import numpy

from vorlax_charts import DPI, new_figure, load_pyplot, save_figure, check_output_path, tidy
from vorlax_log import Run
from vorlax_phase_text import gb_text
from vorlax_phases import Analysis, chain, interval_rates, samples_of

SHADES = ("#4c9be8", "#f0a030")


def rate_curve(runs: Sequence[Run], x: str = "gb"):
    """(x values, MB/s) of each interval of runs chained, as the analysis
    sees them (a run's short last interval joined to the one before): x is
    the interval's end in GB written ("gb") or in seconds ("s")."""
    seconds, total_mb = chain(samples_of(runs))
    if len(seconds) == 0:
        return numpy.array([]), numpy.array([])
    ends_s, ends_mb, rates, _ = interval_rates(seconds, total_mb)
    return (ends_mb / 1024.0 if x == "gb" else ends_s), rates


def _shade(axes, analysis: Analysis, x: str, top: float) -> None:
    for number, phase in enumerate(analysis.phases):
        start, end = (phase.start_gb, phase.end_gb) if x == "gb" else (phase.start_s, phase.end_s)
        axes.axvspan(start, end, color=SHADES[number % 2], alpha=0.12, linewidth=0)
        axes.hlines(phase.mb_s, start, end, color=SHADES[number % 2], linewidth=2.5)
        axes.text((start + end) / 2, top * 1.02, "%.0f MB/s" % phase.mb_s, ha="center", va="bottom",
                  fontsize="small", color="black")
    cliff = analysis.cliff
    if cliff:
        phase = next(p for p in analysis.phases if p.end_gb == cliff.gb)
        at = cliff.gb if x == "gb" else phase.end_s
        spread = cliff.plus_minus_gb if x == "gb" else analysis.interval_s
        axes.axvspan(at - spread, at + spread, color="red", alpha=0.15, linewidth=0)
        axes.axvline(at, color="red", linestyle="--", linewidth=1.2,
                     label="fast phase ended: %s (\u00b1 %s)" % (gb_text(cliff.gb), gb_text(cliff.plus_minus_gb)))
    if analysis.dips:
        where = [dip.start_gb + dip.mb_s * dip.seconds / 2048.0 if x == "gb" else dip.start_s + dip.seconds / 2
                 for dip in analysis.dips]
        axes.plot(where, [dip.mb_s for dip in analysis.dips], linestyle="none", marker="v", markersize=9,
                  color="red", markeredgecolor="black", markeredgewidth=0.5, zorder=5,
                  label="dip of 2 s or more below half the phase's speed")


READ_COLOUR = "#2a9d4a"
CLIPPED_LABEL = "read back above the scale: \u25b2 at the edge, its MB/s beside"


def _draw_read(axes, where, rates, top: float) -> None:
    """The read back: a curve, or a marker with its figure for one or two
    samples. What is above the write's top sits on the top edge as a
    triangle, with its figure (the highest of each span above)."""
    edge = top * 1.1
    if len(rates) >= 3:
        axes.plot(where, numpy.minimum(rates, edge), color=READ_COLOUR, linewidth=1, label="read back MB/s")
        above = numpy.concatenate(([False], rates > edge, [False]))
        changes = numpy.flatnonzero(above[1:] != above[:-1])
        labelled = [first + int(numpy.argmax(rates[first:stop])) for first, stop in zip(changes[0::2], changes[1::2])]
    else:
        axes.plot(where, numpy.minimum(rates, edge), linestyle="none", marker="D", markersize=7, color=READ_COLOUR,
                  label="read back: " + ", ".join("%.0f MB/s" % rate for rate in rates))
        labelled = range(len(rates))
    for i in labelled:
        axes.annotate("%.0f MB/s" % rates[i], (where[i], min(rates[i], edge)), textcoords="offset points",
                      xytext=(0, -14), ha="center", fontsize="small", color=READ_COLOUR)
    if (rates > edge).any():
        axes.plot(where[rates > edge], [edge] * int((rates > edge).sum()), linestyle="none", marker="^",
                  markersize=8, color=READ_COLOUR, markeredgecolor="black", markeredgewidth=0.5, zorder=6,
                  label=CLIPPED_LABEL)


def plot_phases(runs: Sequence[Run], analysis: Analysis, path: str, x: str = "gb",
                read_runs: Sequence[Run] = (), width_px: int = 1000, height_px: int = 560,
                title: Optional[str] = None, dpi: int = DPI) -> None:
    """The write's per-interval MB/s (and the read's, when given) against
    GB written or seconds, its phases shaded. .svg or .png by path."""
    check_output_path(path)
    pyplot = load_pyplot()
    figure = draw_phases(pyplot, runs, analysis, x, read_runs, width_px, height_px, title, dpi)
    save_figure(pyplot, figure, path)


def _plot_chained_latency(axes, runs: Sequence[Run], x: str) -> None:
    """The records' slowest block of each progress line, runs chained as
    the analysis chains them, and their stalls."""
    from vorlax_run_chart import draw_latency, latency_points
    lines, stalls, thresholds = [], [], []
    offset_s = offset_mb = 0.0
    for run in runs:
        def place(seconds, run=run, offset_s=offset_s, offset_mb=offset_mb):
            before = [s for s in run.samples if s.elapsed_s <= seconds]
            mb = before[-1].total_mb if before else 0
            return (offset_mb + mb) / 1024.0 if x == "gb" else offset_s + seconds
        more_lines, more_stalls, threshold = latency_points(run, place)
        lines, stalls = lines + more_lines, stalls + more_stalls
        thresholds.append(threshold)
        if run.samples:
            offset_s, offset_mb = offset_s + run.samples[-1].elapsed_s, offset_mb + run.samples[-1].total_mb
    draw_latency(axes, [(lines, "#1f5fa0", "slowest write of each second")], stalls, thresholds)


def draw_phases(pyplot, runs: Sequence[Run], analysis: Analysis, x: str = "gb", read_runs: Sequence[Run] = (),
                width_px: int = 1000, height_px: int = 560, title: Optional[str] = None, dpi: int = DPI):
    """The figure plot_phases() saves; with the runs' records, a latency
    panel under the rate."""
    latency_axes = None
    if any(ms is not None for run in runs for ms in run.max_ms):
        from vorlax_run_chart import latency_figure
        figure, axes, _, latency_axes = latency_figure(pyplot, width_px, height_px, False, dpi)
    else:
        figure, axes = new_figure(pyplot, width_px, height_px, dpi=dpi)
    where, rates = rate_curve(runs, x)
    # A run that fell short is drawn as vorlax-plot draws it: dotted, and said in the legend.
    short = list(dict.fromkeys(run.shortfall() for run in runs if run.shortfall()))
    axes.plot(where, rates, color="#1f5fa0", linewidth=1, marker=".", markersize=3, linestyle=":" if short else "-",
              label="write MB/s" + "".join(" (%s)" % note for note in short))
    top = max([float(rates.max()) if len(rates) else 1.0, 1.0])
    if read_runs:
        _draw_read(axes, *rate_curve(read_runs, x), top)
    _shade(axes, analysis, x, top)
    axes.set_xlabel("GB written (GB = 2^30 bytes)" if x == "gb" else "elapsed time (s), runs back to back")
    if latency_axes is not None:
        _plot_chained_latency(latency_axes, runs, x)
        latency_axes.set_xlabel(axes.get_xlabel())
        axes.set_xlabel("")
    axes.set_ylabel("MB/s (MB = 2^20 bytes)")
    axes.set_xlim(left=0)
    axes.set_ylim(0, top * 1.15)
    axes.grid(True, alpha=0.3)
    axes.legend(fontsize="small", loc="lower left")
    axes.set_title(title or "VORLAX: the phases of a long write", fontsize="medium")
    tidy(figure)
    return figure
