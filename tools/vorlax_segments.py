"""Change points of a series of rates: its noise, a running median, binary
segmentation, the merging of neighbours too close to tell apart and the
moving of each boundary to the best split of the raw rates. Pure numpy; the
phase analysis (vorlax_phases) puts them together, docs/fill.md tells how."""

import math
from typing import List, Tuple

import numpy

MIN_CHANGE = 0.10          # smallest change of speed reported, of the faster rate


def noise_of(rates: numpy.ndarray) -> float:
    """Robust standard deviation of the rates' noise."""
    if len(rates) < 3:
        return 0.0
    return 1.4826 * float(numpy.median(numpy.abs(numpy.diff(rates)))) / math.sqrt(2.0)


def smooth(rates: numpy.ndarray, width: int) -> numpy.ndarray:
    half = width // 2
    padded = numpy.pad(rates, half, mode="edge")
    return numpy.median(numpy.lib.stride_tricks.sliding_window_view(padded, width), axis=1)


def best_split(values: numpy.ndarray, start: int, end: int, min_len: int) -> Tuple[int, float]:
    """The split k of values[start:end] (both sides >= min_len) that most
    reduces the squared error, and that reduction; (-1, 0) when none."""
    n = end - start
    if n < 2 * min_len:
        return -1, 0.0
    part = values[start:end]
    sums = numpy.cumsum(part)
    left_n = numpy.arange(min_len, n - min_len + 1)
    left = sums[left_n - 1]
    total = sums[-1]
    right_n = n - left_n
    gains = (left / left_n - (total - left) / right_n) ** 2 * left_n * right_n / n
    best = int(numpy.argmax(gains))
    return start + int(left_n[best]), float(gains[best])


def segment(values: numpy.ndarray, min_len: int, penalty: float) -> List[int]:
    """Boundaries (indices where a new span starts) by binary segmentation."""
    boundaries, pending = [], [(0, len(values))]
    while pending:
        start, end = pending.pop()
        split, gain = best_split(values, start, end, min_len)
        if split > 0 and gain > penalty:
            boundaries.append(split)
            pending += [(start, split), (split, end)]
    return sorted(boundaries)


def margin(left: numpy.ndarray, right: numpy.ndarray, sigma: float) -> float:
    """How far apart the medians of two spans are, in units of what counts
    as a change (MIN_CHANGE of the faster, or what their noise explains):
    under 1 is no change."""
    return medians_apart(float(numpy.median(left)), float(numpy.median(right)), len(left), len(right), sigma)


def medians_apart(a: float, b: float, left_n: int, right_n: int, sigma: float) -> float:
    """margin() of two spans of left_n and right_n rates whose medians are a and b."""
    noise = 4.0 * 1.2533 * sigma * math.sqrt(1.0 / left_n + 1.0 / right_n)
    needed = max(MIN_CHANGE * max(abs(a), abs(b)), noise)
    return abs(a - b) / needed if needed > 0 else math.inf


def merge_close(rates: numpy.ndarray, boundaries: List[int], sigma: float) -> List[int]:
    """Drops the boundary between the two closest neighbours while they
    differ by less than MIN_CHANGE of the faster or than their noise."""
    boundaries = list(boundaries)
    while boundaries:
        edges = [0] + boundaries + [len(rates)]
        closest, closest_apart = None, 0.0
        for i, split in enumerate(boundaries):
            apart = margin(rates[edges[i]:split], rates[split:edges[i + 2]], sigma)
            if apart < 1.0 and (closest is None or apart < closest_apart):
                closest, closest_apart = i, apart
        if closest is None:
            return boundaries
        del boundaries[closest]
    return boundaries


def refine(rates: numpy.ndarray, boundaries: List[int], reach: int, min_len: int) -> List[int]:
    """Each boundary moved, within reach, to the best split of the raw rates
    between its neighbours."""
    refined = []
    for i, split in enumerate(boundaries):
        start = refined[-1] if refined else 0
        end = boundaries[i + 1] if i + 1 < len(boundaries) else len(rates)
        low, high = max(start + 1, split - reach), min(end - 1, split + reach)
        best, best_cost = split, math.inf
        for k in range(low, high + 1):
            left, right = rates[start:k], rates[k:end]
            cost = float(((left - left.mean()) ** 2).sum() + ((right - right.mean()) ** 2).sum())
            if cost < best_cost:
                best, best_cost = k, cost
        refined.append(best if min(best - start, end - best) >= min(min_len, split - start, end - split) else split)
    return refined
