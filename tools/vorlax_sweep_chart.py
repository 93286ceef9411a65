"""The chart of a sweep: bars of the median sustained MB/s, one group per
block size, one bar per mode and thread count (each pair in a colour of
its own in every chart), write and read side by side, a failed cell
written "failed", and buffered cells whose files fit in memory marked
"page cache"."""

import math
from typing import List, Optional

from vorlax_machine import Measured
from vorlax_results import SweepPlan, any_read, cells
from vorlax_sweep import Result

MEMORY_BACKED = ("tmpfs", "ramfs", "devtmpfs", "hugetlbfs")


def pair_colour(mode: str, threads: int) -> int:
    """The colour of (mode, threads) in the palette of 10, the same in every
    chart: U x1 0, B x1 1, U x2 2, ..."""
    return (2 * (threads - 1) + (mode == "B")) % 10


def page_cache_gb(plan: Optional[SweepPlan], measured: Measured) -> Optional[float]:
    """GB of test files a buffered run keeps in the page cache: the memory
    available when the sweep started (its plan's options), else the
    machine's memory; None when unknown."""
    mb = (plan.options.get("memory_available_mb") if plan else None) or measured.memory_mb
    return mb / 1024.0 if mb else None


def shows_memory(mode: str, threads: int, size_gb: int, measured: Measured, cache_gb: Optional[float]) -> bool:
    """A cell whose figures are memory speed: any on a memory-backed file
    system, a B cell whose files fit in the page cache."""
    if measured.fs_type in MEMORY_BACKED:
        return True
    return mode == "B" and cache_gb is not None and threads * size_gb <= cache_gb


def size_to_reach_disk(threads: List[int], cache_gb: float) -> int:
    """The -s in GB per thread with which every B cell writes more than the
    page cache holds."""
    return int(math.floor(cache_gb / min(threads))) + 1


def memory_notes(modes: List[str], threads: List[int], size_gb: int, measured: Measured, cache_gb: Optional[float],
                 free_gb: float, unwritable: Optional[str]) -> List[str]:
    """What the sweep says before its first run: a folder it cannot write
    (every run will fail, and nothing else matters), a memory-backed file
    system, or the B cells that will show the page cache, with the -s that
    reaches the disk only when the disk's free space holds it."""
    if unwritable:
        return ["%s: cannot write there (%s): every run will fail; name a folder you can write" % (
            measured.folder, unwritable)]
    if measured.fs_type in MEMORY_BACKED:
        return ["%s is on %s, a memory-backed file system: every cell measures memory, not a disk" % (
            measured.folder, measured.fs_type)]
    fit = [t for t in threads if shows_memory("B", t, size_gb, measured, cache_gb)]
    if "B" not in modes or not fit:
        return []
    needed = size_to_reach_disk(threads, cache_gb)
    fix = ("-s %d or more lets every B cell reach the disk" % needed if needed * max(threads) <= free_gb else
           "the disk (%.1f GB free) is too small for the B cells to reach it: -s %d would need %d GB; U cells "
           "measure the disk" % (free_gb, needed, needed * max(threads)))
    return ["the B cells with %s thread%s write %d GB or less, which fits in the memory available (%.1f GB): "
            "they will show the page cache, not the disk; %s" % (
                ",".join(map(str, fit)), "" if fit == [1] else "s", max(fit) * size_gb, cache_gb, fix)]


def chart_title(measured: Measured, size_gb: int, runs_per_cell: int, reads: bool,
                plan: Optional[SweepPlan] = None) -> str:
    what = "write and read" if reads else "write"
    partial = plan is not None and plan.stopped is not None
    repeats = ", median of %s%d runs" % ("up to " if partial else "", runs_per_cell) if runs_per_cell > 1 else ""
    stopped = "; stopped part way: %s" % plan.stopped if partial else ""
    return "VORLAX sweep: sustained %s MB/s by block size (%d GB per thread%s%s)\n%s: %s; %s; %s; %s" % (
        what, size_gb, repeats, stopped, measured.folder, measured.disk_text(), measured.date[:16],
        measured.vorlax_version, measured.machine_text())


def draw_chart(results: List[Result], measured: Measured, runs_per_cell: int, path: str,
               plan: Optional[SweepPlan] = None) -> None:
    """Bars of the median sustained MB/s, the read bar hatched, a whisker
    from the worst to the best of several runs; pairs in the order the
    sweep ran them."""
    from vorlax_charts import plot_bars
    reads = any_read(results)
    kinds = ["write", "read"] if reads else ["write"]
    blocks = sorted({r.settings.block_kb for r in results})
    pairs = list(dict.fromkeys((r.settings.mode, r.settings.threads) for r in results))
    names = [(pair, kind) for pair in pairs for kind in kinds]
    values = [[None] * len(names) for _ in blocks]
    spans = [[None] * len(names) for _ in blocks]
    gaps = [[None] * len(names) for _ in blocks]
    for cell in cells(results):
        row = blocks.index(cell.settings.block_kb)
        for kind in kinds:
            figures = cell.write() if kind == "write" else cell.read()
            column = names.index(((cell.settings.mode, cell.settings.threads), kind))
            values[row][column] = figures.median()
            if len(figures.values) > 1:
                spans[row][column] = (min(figures.values), max(figures.values))
            if not figures.values and (kind == "write" or cell.write().values):
                gaps[row][column] = "failed" if kind == "write" or any(r.read for r in cell.results) else None
    size_gb = results[0].settings.size_gb
    cache_gb = page_cache_gb(plan, measured)
    legend = []
    for (mode, threads), kind in names:
        text = "%s x%d" % (mode, threads) + (" " + kind if reads else "")
        if shows_memory(mode, threads, size_gb, measured, cache_gb):
            text += " (page cache)" if measured.fs_type not in MEMORY_BACKED else " (memory)"
        legend.append(text)
    plot_bars(legend, ["%dK" % block for block in blocks], values, path,
              title=chart_title(measured, size_gb, runs_per_cell, reads, plan), spans=spans,
              colour_of=[pair_colour(*pair) for pair, _ in names], hatched=[kind == "read" for _, kind in names],
              gap_texts=gaps)
