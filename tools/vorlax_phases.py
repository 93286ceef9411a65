"""The phases of a write: where the speed of a long run (or of several runs
chained back to back) changes, how fast each span was, where the fast
phase ended, and where the speed dipped. Pure: numbers in, records out.
docs/fill.md gives the method and its limits in full; in short:

1. The per-interval rates, smoothed by a running median over 11 intervals
   (dips do not become phases), are split by binary segmentation (penalty
   3 sigma^2 log n, sides of 8 s or more; sigma from the raw rates' MAD of
   successive differences); neighbours closer than 10 % of the faster (or
   their noise) are merged, and each boundary moves to the best split of
   the raw rates nearby; numpy's cumulative sums make each level one
   pass. A span below half of two neighbours at one level (one of them
   longer than it) is joined with them: a dip, however long.
2. Before that, the first and last 3 minimum phases are searched for a
   short phase (a cache that fills in seconds): 3 intervals or more at the
   edge, distinct from the rest, beside 8 s or more of it, whose level the
   series never comes back to.
3. Every boundary is known to within one interval: the faster rate times
   one interval is its uncertainty. A dip is a span of whole intervals
   below half its phase's median, 2 s or more, with its phase on both
   sides; with 1 s samples one of 3 s is always found. A steady series is
   one phase; one too short for two phases has no dips.
"""

import math
from dataclasses import asdict, dataclass
from typing import Dict, List, Optional, Sequence, Tuple

import numpy

from vorlax_segments import (MIN_CHANGE, best_split, margin, medians_apart, merge_close, noise_of, refine, segment,
                             smooth)

MIN_PHASE_S = 8.0
SMOOTH_S = 5.0            # the running median hides spans up to this long
DIP_FRACTION = 0.5         # a dip is below this share of its phase's median
MIN_DIP_S = 2.0
MIN_EDGE = 3               # intervals a phase at the start or the end lasts at least
SHORT_INTERVAL = 0.25      # intervals shorter than this share of the usual one join their neighbour


@dataclass
class Phase:
    start_gb: float
    end_gb: float
    start_s: float
    end_s: float
    mb_s: float            # median of the phase's per-interval rates
    plus_minus_gb: float = 0.0  # of its end: the faster rate beside it times one interval; 0 for the last
    plus_minus_s: float = 0.0   # of its end: one interval; 0 for the last


@dataclass
class Cliff:
    gb: float              # where the fast phase ended
    plus_minus_gb: float   # the faster rate times one interval
    from_mb_s: float
    to_mb_s: float


@dataclass
class Dip:
    start_gb: float
    start_s: float
    seconds: float
    mb_s: float            # its own rate: MB over seconds
    slowest_ms: Optional[float] = None    # its slowest block, where runs have records (vorlax_record)
    slowest_at_s: Optional[float] = None  # when that block began


@dataclass
class Analysis:
    phases: List[Phase]    # one when no change of speed was found; empty for no samples
    cliff: Optional[Cliff]
    dips: List[Dip]
    total_gb: float
    total_s: float
    average_mb_s: float    # all MB over all seconds
    median_mb_s: float     # the whole series' median rate
    interval_s: float      # the usual time between two samples
    too_short: bool = False  # shorter than two minimum phases

    def as_dict(self) -> Dict[str, object]:
        """phases, cliff (or None), dips and the figures, as plain values."""
        return asdict(self)


def chain(runs: Sequence[Sequence[Tuple[float, float]]]) -> Tuple[numpy.ndarray, numpy.ndarray]:
    """Runs one after another as one series: each run's (elapsed s, total MB)
    samples are shifted by the time and MB of the runs before it (the gaps
    between runs are not counted). Returns (seconds, total MB), both
    cumulative."""
    seconds, total_mb = [], []
    offset_s = offset_mb = 0.0
    for samples in runs:
        for elapsed_s, mb in samples:
            seconds.append(offset_s + elapsed_s)
            total_mb.append(offset_mb + mb)
        if samples:
            offset_s, offset_mb = seconds[-1], total_mb[-1]
    return numpy.array(seconds, dtype=float), numpy.array(total_mb, dtype=float)


def samples_of(runs) -> List[List[Tuple[float, float]]]:
    """(elapsed s, total MB) of each vorlax_log.Run."""
    return [[(s.elapsed_s, float(s.total_mb)) for s in run.samples] for run in runs]


def _intervals(seconds: numpy.ndarray, total_mb: numpy.ndarray):
    """Interval ends in s and MB, with intervals much shorter than the usual
    one (a run's last line, a line late after a pause) joined to the one
    before, so that their rate is not a wild guess."""
    ends_s = numpy.asarray(seconds, dtype=float)
    ends_mb = numpy.asarray(total_mb, dtype=float)
    lengths = numpy.diff(numpy.concatenate(([0.0], ends_s)))
    usual = float(numpy.median(lengths)) if len(lengths) else 1.0
    keep = lengths >= SHORT_INTERVAL * usual
    # Dropping an end joins its interval to the next one; keep the last end.
    keep = numpy.roll(keep, -1)
    keep[-1] = True
    return ends_s[keep], ends_mb[keep], usual


def interval_rates(seconds, total_mb) -> Tuple[numpy.ndarray, numpy.ndarray, numpy.ndarray, float]:
    """(interval ends in s, ends in MB, MB/s of each interval, the usual
    interval in s) of cumulative samples, with much shorter intervals (a
    run's last line) joined to the one before, as the analysis sees them."""
    ends_s, ends_mb, usual = _intervals(seconds, total_mb)
    lengths = numpy.diff(numpy.concatenate(([0.0], ends_s)))
    rates = numpy.diff(numpy.concatenate(([0.0], ends_mb))) / numpy.maximum(lengths, 1e-9)
    return ends_s, ends_mb, rates, usual


def _edge(rates: numpy.ndarray, full: numpy.ndarray, min_len: int, sigma: float) -> int:
    """The length of a short phase at the start of rates (reverse both for
    the end), as the module's opening tells; 0 when there is none. Only
    full intervals (full[i]: not a run's cut-short last one) count toward
    its MIN_EDGE, and each of them must differ from the rest's median by
    MIN_CHANGE of the faster: one odd interval beside the level of the rest
    is no phase."""
    n = len(rates)
    window = min(n, 3 * min_len)
    k, _ = best_split(rates, 0, window, MIN_EDGE + int(not full[0]))  # only the first can be cut short
    if k < 0 or n - k < min_len or margin(rates[:k], rates[k:window], sigma) < 1.0:
        return 0
    rest = float(numpy.median(rates[k:window]))
    own = rates[:k][full[:k]]
    if (numpy.abs(own - rest) < MIN_CHANGE * numpy.maximum(numpy.abs(own), abs(rest))).any():
        return 0
    level = float(numpy.median(rates[:k]))
    near = numpy.concatenate(([False], numpy.abs(rates[k:] - level) <= MIN_CHANGE * abs(level), [False]))
    changes = numpy.flatnonzero(near[1:] != near[:-1])
    back = (changes[1::2] - changes[0::2]).max(initial=0)
    return 0 if back >= MIN_EDGE else k


def _join_dips(rates: numpy.ndarray, edges: List[int], sigma: float) -> List[int]:
    """Edges (span starts, then the end) with each low stretch and its two
    neighbours made one span: up to 3 spans (a long dip can be cut in
    pieces of a minimum phase) whose rates' median is under DIP_FRACTION of
    theirs, between neighbours at one level (margin() under 1) of which one
    lasts longer than it, are a dip of that phase however long, never
    phases more. A phase that starts low (a cliff's first seconds) is not
    joined: its neighbours differ."""
    edges, i = list(edges), 1
    medians = [float(numpy.median(rates[a:b])) for a, b in zip(edges[:-1], edges[1:])]
    while i + 2 < len(edges):
        for j in range(i + 1, min(i + 4, len(edges) - 1)):  # spans i to j - 1 low, span j the right side
            # A union's median lies between its parts': skip what cannot be low at no cost.
            if min(medians[i:j]) >= DIP_FRACTION * max(medians[i - 1], medians[j]):
                continue
            left, low, right = rates[edges[i - 1]:edges[i]], rates[edges[i]:edges[j]], rates[edges[j]:edges[j + 1]]
            if (len(low) < max(len(left), len(right))
                    and medians_apart(medians[i - 1], medians[j], len(left), len(right), sigma) < 1.0
                    and numpy.median(low) < DIP_FRACTION * numpy.median(numpy.concatenate((left, right)))):
                del edges[i:j + 1]
                medians[i - 1:j + 1] = [float(numpy.median(rates[edges[i - 1]:edges[i]]))]
                i = max(1, i - 2)  # the joined span may be the level beside a low stretch before it
                break
        else:
            i += 1
    return edges


def _dips(rates, lengths, starts_s, starts_mb, edges, medians) -> List[Dip]:
    """Spans of MIN_DIP_S or more whose rates stay under DIP_FRACTION of
    their phase's median, with their phase on both sides."""
    dips = []
    for start, end, median in zip(edges[:-1], edges[1:], medians):
        low = numpy.concatenate(([False], rates[start:end] < DIP_FRACTION * median, [False]))
        changes = numpy.flatnonzero(low[1:] != low[:-1]) + start  # where each low span starts, then ends
        for first, stop in zip(changes[0::2], changes[1::2]):
            seconds = float(lengths[first:stop].sum())
            if seconds >= MIN_DIP_S - 1e-9 and first > start and stop < end:
                mb = float((rates[first:stop] * lengths[first:stop]).sum())
                dips.append(Dip(starts_mb[first] / 1024.0, float(starts_s[first]), seconds, mb / seconds))
    return dips


def analyse(seconds, total_mb, min_phase_s: float = MIN_PHASE_S) -> Analysis:
    """The phases, cliff, dips and average of a series of cumulative
    (seconds, total MB) samples, as chain() gives them; an empty series
    gives an empty analysis."""
    seconds, total_mb = numpy.asarray(seconds, dtype=float), numpy.asarray(total_mb, dtype=float)
    if len(seconds) == 0 or seconds[-1] <= 0:
        return Analysis([], None, [], 0.0, 0.0, 0.0, 0.0, 1.0, too_short=True)
    total_s, total = float(seconds[-1]), float(total_mb[-1])
    ends_s, ends_mb, rates, usual = interval_rates(seconds, total_mb)
    starts_s = numpy.concatenate(([0.0], ends_s[:-1]))
    starts_mb = numpy.concatenate(([0.0], ends_mb[:-1]))
    lengths = ends_s - starts_s
    min_len = max(2, int(math.ceil(min_phase_s / usual - 1e-9)))
    sigma = max(noise_of(rates), 0.01 * abs(float(numpy.median(rates))), 1e-9)
    too_short = len(rates) < 2 * min_len
    full = lengths >= (1.0 - SHORT_INTERVAL) * usual  # a run's cut-short last interval is not
    first = _edge(rates, full, min_len, sigma)
    last = _edge(rates[first:][::-1], full[first:][::-1], min_len, sigma)
    middle = rates[first:len(rates) - last]
    boundaries: List[int] = []
    if len(middle) >= 2 * min_len:
        half = min(int(math.ceil(SMOOTH_S / usual - 1e-9)), min_len - 1)
        boundaries = segment(smooth(middle, 2 * half + 1), min_len, 3.0 * sigma ** 2 * math.log(len(middle)))
        boundaries = merge_close(middle, boundaries, sigma)
        boundaries = refine(middle, boundaries, half, min_len)
    boundaries = [first] * bool(first) + [first + b for b in boundaries] + [len(rates) - last] * bool(last)
    edges = _join_dips(rates, [0] + boundaries + [len(rates)], sigma)
    boundaries = edges[1:-1]
    medians = [float(numpy.median(rates[a:b])) for a, b in zip(edges[:-1], edges[1:])]
    phases = [Phase(starts_mb[a] / 1024.0, ends_mb[b - 1] / 1024.0, float(starts_s[a]), float(ends_s[b - 1]), m)
              for a, b, m in zip(edges[:-1], edges[1:], medians)]
    for phase, following in zip(phases, phases[1:]):
        phase.plus_minus_gb = max(phase.mb_s, following.mb_s) * usual / 1024.0
        phase.plus_minus_s = usual
    cliff = None
    falls = [i for i in range(len(phases) - 1) if phases[i + 1].mb_s < phases[i].mb_s]
    if falls:
        i = max(falls, key=lambda j: (phases[j].mb_s, -j))
        cliff = Cliff(phases[i].end_gb, phases[i].mb_s * usual / 1024.0, phases[i].mb_s, phases[i + 1].mb_s)
    dips = [] if too_short and not boundaries else _dips(rates, lengths, starts_s, starts_mb, edges, medians)
    return Analysis(phases, cliff, dips, total / 1024.0, total_s, total / total_s, float(numpy.median(rates)),
                    usual, too_short)


def analyse_runs(runs) -> Analysis:
    """analyse() of vorlax_log.Run records chained in order."""
    return analyse(*chain(samples_of(runs)))
