"""Reads saved VORLAX output into plain records.

A log is what `vorlax`, `vorlax-read` or `vorlax-mpi` printed on stdout,
perhaps with its stderr mixed in (`2>&1`): a banner line, progress lines once
a second, a completion line per thread and DONE!; a `vorlax-mpi` log has a
rank in its completion lines and a summary before DONE!. One text may hold
several runs one after another; each starts at its banner. Pure Python:
nothing here draws.
"""

import os
import re
import sys
from dataclasses import dataclass, field
from typing import List, Optional

BANNER = re.compile(r"VORLAX: (writing|reading) (buffered|unbuffered) (\d+)K buffers in (\d+) threads "
                    r"up to (\d+) GB each(?:, on (\d+) ranks of (\d+) hosts)?")
PROGRESS_PREFIX = r" *(\d+)\.(\d{3}): "
PROGRESS_FIGURES = r" *(\d+) MB (?:written|read), +(\d+) MB/s sustained, +(\d+) MB/S incremental"
PROGRESS = re.compile(PROGRESS_PREFIX + PROGRESS_FIGURES)
# A completion line printed between a progress line's two halves.
SPLIT_PROGRESS = re.compile(PROGRESS_PREFIX + r"((?:rank \d+ )?thread \d+ done! \d+)")
FIGURES_ALONE = re.compile(PROGRESS_FIGURES)
COMPLETION = re.compile(r"(?:rank (\d+) )?thread (\d+) done! (\d+)")
MESSAGE = re.compile(r"vorlax(?:-read|-mpi)?: .*")
USAGE = re.compile(r"Usage: (?:VORLAX|vorlax)\S* .*")
DONE = "DONE!"


class LogError(Exception):
    """Input that is not (whole) VORLAX output; str() is a one-line reason."""


@dataclass
class Sample:
    """One progress line."""
    elapsed_ms: int
    total_mb: int
    sustained_mbps: int
    incremental_mbps: int

    @property
    def elapsed_s(self) -> float:
        return self.elapsed_ms / 1000.0


@dataclass
class Completion:
    """One thread's completion line, placed at the first progress line after
    it (the monitor prints one within a second of a thread's end), or at the
    last one when none follows. rank is None but in a vorlax-mpi log."""
    thread: int
    blocks: int
    elapsed_ms: int = 0
    rank: Optional[int] = None


def _completion(match) -> Completion:
    rank, thread, blocks = match.groups()
    return Completion(int(thread), int(blocks), rank=None if rank is None else int(rank))


@dataclass
class Run:
    source: str                 # where it was read from, for messages and labels
    buffered: bool
    block_kb: int
    threads: int
    size_gb: int
    reading: bool = False       # a vorlax-read log
    ranks: Optional[int] = None  # a vorlax-mpi log: ranks and hosts from its banner
    hosts: Optional[int] = None
    samples: List[Sample] = field(default_factory=list)
    completions: List[Completion] = field(default_factory=list)
    messages: List[str] = field(default_factory=list)   # stderr lines, when mixed in
    summary: List[str] = field(default_factory=list)    # vorlax-mpi's closing lines, as they are
    done: bool = False          # DONE! was seen

    @property
    def mode(self) -> str:
        return "B" if self.buffered else "U"

    def label(self) -> str:
        """Mode, block size and threads, as the banner gives them, with
        "read" for a read and the ranks of an MPI run."""
        text = "%s %dK x%d" % (self.mode, self.block_kb, self.threads)
        if self.ranks is not None:
            text += " on %d rank%s" % (self.ranks, "" if self.ranks == 1 else "s")
        return text + (" read" if self.reading else "")

    def final(self) -> Sample:
        """The last progress line: the run's total and sustained rate."""
        return self.samples[-1]


def _place_completions(run: Run, pending: List[Completion]) -> None:
    if run.samples:
        for completion in pending:
            completion.elapsed_ms = run.samples[-1].elapsed_ms


def parse_text(text: str, source: str = "<stdin>") -> List[Run]:
    """Every run in text, in order. Raises LogError naming source and line
    for a line that is not VORLAX output, a cut-short last line, text with
    no banner, or a run without a single progress line."""
    lines = text.split("\n")
    cut_short = lines[-1] != ""
    if not cut_short:
        lines.pop()
    runs: List[Run] = []
    pending: List[Completion] = []   # completions not yet followed by a progress line
    index = 0
    while index < len(lines):
        number, line = index + 1, lines[index].rstrip("\r")
        index += 1
        where = "%s:%d" % (source, number)
        run = runs[-1] if runs else None
        if cut_short and index == len(lines) and not (line == DONE or PROGRESS.fullmatch(line)):
            raise LogError("%s: line cut short: %r" % (where, _shorten(line)))
        banner = BANNER.fullmatch(line)
        if banner:
            _check_has_samples(run, source)
            if run:
                _place_completions(run, pending)
            pending = []
            activity, mode, block_kb, threads, size_gb, ranks, hosts = banner.groups()
            runs.append(Run(source, mode == "buffered", int(block_kb), int(threads), int(size_gb),
                            reading=activity == "reading", ranks=ranks and int(ranks), hosts=hosts and int(hosts)))
            continue
        if MESSAGE.fullmatch(line):
            if run:
                run.messages.append(line)
            continue
        if USAGE.fullmatch(line):
            raise LogError("%s: the usage text, not a run: vorlax was given a wrong command line" % where)
        if run is None:
            raise LogError("%s: not VORLAX output (no banner line before %r)" % (where, _shorten(line)))
        split = SPLIT_PROGRESS.fullmatch(line)
        if split and index < len(lines) and FIGURES_ALONE.fullmatch(lines[index].rstrip("\r")):
            # Rejoin "   3.001: thread 1 done! 4096" + "    5372 MB written, ...".
            pending.append(_completion(COMPLETION.fullmatch(split.group(3))))
            run.completions.append(pending[-1])
            line = line[:split.start(3)] + lines[index].rstrip("\r")
            index += 1
        progress = PROGRESS.fullmatch(line)
        if progress:
            seconds, millis, total, sustained, incremental = (int(g) for g in progress.groups())
            run.samples.append(Sample(seconds * 1000 + millis, total, sustained, incremental))
            _place_completions(run, pending)
            pending = []
            continue
        completion = COMPLETION.fullmatch(line)
        if completion:
            pending.append(_completion(completion))
            run.completions.append(pending[-1])
            continue
        if line == DONE:
            run.done = True
            continue
        if run.ranks is not None:
            run.summary.append(line)  # free-form lines of the MPI summary
            continue
        raise LogError("%s: not a VORLAX line: %r" % (where, _shorten(line)))
    if not runs:
        raise LogError("%s: not VORLAX output (no banner line)" % source)
    _check_has_samples(runs[-1], source)
    _place_completions(runs[-1], pending)
    return runs


def parse_file(path: str) -> List[Run]:
    """parse_text of a file's content; "-" reads stdin. Raises LogError for
    a file that cannot be read, too."""
    try:
        if path == "-":
            return parse_text(sys.stdin.buffer.read().decode("utf-8", "replace"), "<stdin>")
        with open(path, "rb") as log:
            return parse_text(log.read().decode("utf-8", "replace"), path)
    except OSError as error:
        raise LogError("%s: cannot read: %s" % (path, error.strerror or error)) from None


def _check_has_samples(run: Optional[Run], source: str) -> None:
    if run is not None and not run.samples:
        raise LogError("%s: the run '%s' has no progress line: it ended (or was cut) before its first second"
                       % (source, run.label()))


def _shorten(line: str, limit: int = 60) -> str:
    return line if len(line) <= limit else line[:limit] + "..."


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
