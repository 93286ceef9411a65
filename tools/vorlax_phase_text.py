"""What the tools print about a phase analysis (vorlax_phases): a line
per finding, the same on screen, in fill.md and under vorlax-plot --phases."""

from typing import List

from vorlax_phases import MIN_DIP_S, MIN_PHASE_S, Analysis


def gb_text(value: float) -> str:
    """"42.3 GB", "0.15 GB": two decimals under 1 GB."""
    return "%.1f GB" % value if value >= 0.95 or value == 0 else "%.2f GB" % value


def time_text(ms: float) -> str:
    """"1.4 s" from 1000 ms on, else "94 ms", "0.61 ms"."""
    if ms >= 999.5:
        return "%.1f s" % (ms / 1000)
    return "%.0f ms" % ms if ms >= 9.95 else "%.2g ms" % ms


def summary_lines(analysis: Analysis) -> List[str]:
    """What the tools print about an analysis, a line per finding:
    "the fast phase ended at 42.3 GB (± 3.1 GB): 2150 MB/s before, 710 MB/s
    after", the phases, the dips and the average; one line for no samples."""
    a = analysis
    if not a.phases:
        return ["nothing measured: stopped before the first progress line"]
    lines = []
    if len(a.phases) < 2:
        why = " (too short to tell: two phases need %.0f s or more)" % (2 * MIN_PHASE_S) if a.too_short else ""
        lines.append("no change of speed found in %s%s: one phase at %.0f MB/s median" % (
            gb_text(a.total_gb), why, a.median_mb_s))
    else:
        if a.cliff:
            lines.append("the fast phase ended at %s (\u00b1 %s): %.0f MB/s before, %.0f MB/s after" % (
                gb_text(a.cliff.gb), gb_text(a.cliff.plus_minus_gb), a.cliff.from_mb_s, a.cliff.to_mb_s))
        else:
            lines.append("the speed never fell from one phase to a slower one")
        for number, phase in enumerate(a.phases, 1):
            end = (" (\u00b1 %s)" % gb_text(phase.plus_minus_gb), " \u00b1 %.0f" % phase.plus_minus_s) \
                if phase.plus_minus_s else ("", "")
            lines.append("phase %d: %s to %s%s (%.0f to %.0f%s s) at %.0f MB/s" % (
                number, gb_text(phase.start_gb), gb_text(phase.end_gb), end[0], phase.start_s, phase.end_s, end[1],
                phase.mb_s))
    if a.dips:
        longest = max(a.dips, key=lambda dip: dip.seconds)
        lines.append("%d dip%s of %.0f s or more below half the phase's speed; the longest %.0f s at %s "
                     "(%.0f s in), at %.0f MB/s" % (
                         len(a.dips), "" if len(a.dips) == 1 else "s", MIN_DIP_S, longest.seconds,
                         gb_text(longest.start_gb), longest.start_s, longest.mb_s))
        lines += ["the dip at %s: its slowest write took %s" % (gb_text(dip.start_gb), time_text(dip.slowest_ms))
                  for dip in a.dips if dip.slowest_ms is not None]
    else:
        lines.append("no dip of %.0f s or more below half the phase's speed" % MIN_DIP_S)
    lines.append("average: %.0f MB/s (%s in %.1f s)" % (a.average_mb_s, gb_text(a.total_gb), a.total_s))
    return lines
