"""Reads saved VORLAX output into plain records.

A log is what `vorlax`, `vorlax-read` or `vorlax-mpi` printed on stdout,
perhaps with its stderr mixed in (`2>&1`): a banner line, progress lines once
a second, a completion line per thread and DONE!; a `vorlax-mpi` log has a
rank in its completion lines and a summary before DONE!; with --latency
(--stall-ms) a latency and a stall line come before DONE!, read into
Run.latency. One text may hold
several runs one after another; each starts at its banner. Pure Python:
nothing here draws.

The API the tools use:
- parse_text(), parse_file(), LogParser: runs (Run) with their samples,
  completions, the programs' message lines and, for vorlax-mpi, the summary;
  LogError (a ToolError) with a one-line reason for what is not a log.
- failure_of(messages) (in vorlax_failures, re-exported): the first failure line among a program's messages
  and its kind (FULL_DISK, BLOCK_SIZE, MISSING_FOLDER, READ_ONLY, ...), the
  one place that reads what went wrong; notes() the lines that are notes;
  message_kind() a line without its figures, to say each kind once.
- Run.shortfall(): None for a whole run (one to its time limit too), else
  "stopped by Ctrl-C", "failed: <kind>, <kind>" or "incomplete" (a
  completion line or DONE! missing), for the charts.
- rank_rows(run) (in vorlax_mpi_summary, re-exported): the per-rank rows of a
  vorlax-mpi summary.
"""

import re
import sys
from dataclasses import dataclass, field
from typing import List, Optional, Tuple

from vorlax_errors import os_reason
from vorlax_failures import (BLOCK_SIZE, FULL_DISK, MISSING_FILE, MISSING_FOLDER, NO_DIRECT,  # noqa: F401
                             NO_MEMORY, NO_PERMISSION, NOTE, OTHER, READ_ONLY, STOPS, Failure, failure_of, kind_of,
                             message_kind, notes, shortfall_text, worker_kind)
from vorlax_mpi_summary import MPI_SUMMARY, RankRow, place_rank_ends, rank_rows  # noqa: F401

BANNER = re.compile(r"VORLAX: (writing|reading) (buffered|unbuffered) (\d+)K buffers in (\d+) threads "
                    r"up to (\d+) GB each(?:, on (\d+) ranks of (\d+) hosts)?")
PROGRESS_PREFIX = r" *(\d+)\.(\d{3}): "
PROGRESS_FIGURES = r" *(\d+) MB (?:written|read), +(\d+) MB/s sustained, +(\d+) MB/S incremental"
PROGRESS = re.compile(PROGRESS_PREFIX + PROGRESS_FIGURES)
COMPLETION = re.compile(r"(?:rank (\d+) )?thread (\d+) done! (\d+)")
MESSAGE = re.compile(r"vorlax(?:-read|-mpi)?: .*")
USAGE = re.compile(r"Usage: (?:VORLAX|vorlax)\S* .*")
DONE = "DONE!"
# The closing lines of --latency and --stall-ms, read into Run.latency with a record's keys (docs/record.md).
LATENCY = re.compile(r"latency per block: (?:no block timed|median ([\d.]+) ms, 99 % ([\d.]+) ms, "
                     r"99\.9 % ([\d.]+) ms, max ([\d.]+) ms \(.+\))")
STALLS = re.compile(r"no stalls of ([\d.]+) ms or more|stalls of ([\d.]+) ms or more: (\d+), [\d.]+ s in all; "
                    r"the longest ([\d.]+) ms at ([\d.]+) s \(.+\)")


class ToolError(Exception):
    """What stops a tool, as a one-line reason (str()) for its users."""


class LogError(ToolError):
    """Input that is not (whole) VORLAX output: bad input, exit status 2."""
    exit_status = 2


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


def sample_of(progress) -> Sample:
    """The Sample of a PROGRESS match."""
    seconds, millis, total, sustained, incremental = (int(g) for g in progress.groups())
    return Sample(seconds * 1000 + millis, total, sustained, incremental)


def run_label(mode: str, block_kb: int, threads: int, ranks: Optional[int] = None, reading: bool = False) -> str:
    """"U 1024K x2": mode, block size and threads as the banner gives them,
    with the ranks of an MPI run and "read" for a read."""
    text = "%s %dK x%d" % (mode, block_kb, threads)
    if ranks is not None:
        text += " on %d rank%s" % (ranks, "" if ranks == 1 else "s")
    return text + (" read" if reading else "")


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
    max_ms: List[Optional[float]] = field(default_factory=list)  # a record's: each line's slowest block
    latency: Optional[dict] = None  # a record's "latency" (docs/record.md); a log's from its --latency lines
    stopped: Optional[str] = None   # a record's "stopped": "interrupt", "terminate", "deadline" or None
    results: List[Tuple[str, Optional[str]]] = field(default_factory=list)  # a record's workers: result, reason

    @property
    def mode(self) -> str:
        return "B" if self.buffered else "U"

    def label(self) -> str:
        return run_label(self.mode, self.block_kb, self.threads, self.ranks, self.reading)

    def final(self) -> Sample:
        """The last progress line: the run's total and sustained rate."""
        return self.samples[-1]

    def shortfall(self) -> Optional[str]:
        """None for a whole run: every thread (of every rank) ended with its
        completion line, DONE! was said, and no line (a record: no worker)
        tells a failure or a stop. A run to its time limit (--seconds) is
        whole. Else shortfall_text() of what went wrong ("stopped by
        SIGTERM", "failed: full disk"), or "incomplete"."""
        if self.results:  # a record tells each worker's result and the stop
            stop = STOPS.get(self.stopped)
            kinds = [stop] if stop else []
            kinds += [worker_kind(result, reason) for result, reason in self.results
                      if not (stop and result == "running")]  # the stop says it did not wait
        else:
            kinds = [kind_of(line) for line in self.messages if not NOTE.fullmatch(line)]
            kinds += [kind_of(line) if kind_of(line) != OTHER else "a rank wrote nothing"
                      for line in self.summary if line.startswith("failed: ")]
        said = shortfall_text([kind for kind in kinds if kind])
        if said:
            return said
        if not self.done or len(self.completions) < self.threads * (self.ranks or 1):
            return "incomplete"
        return None

def _place_completions(run: Run, pending: List[Completion]) -> None:
    if run.samples:
        for completion in pending:
            completion.elapsed_ms = run.samples[-1].elapsed_ms


class LogParser:
    """Reads a log line by line as it comes: feed() each line with its line
    end, then finish(). messages holds every program message line met,
    before a banner too, and keeps doing so after a line that is not VORLAX
    output, which finish() then raises."""

    def __init__(self, source: str = "<stdin>"):
        self.source = source
        self.runs: List[Run] = []
        self.messages: List[str] = []
        self._number = 0
        self._pending: List[Completion] = []  # completions not yet followed by a progress line
        self._error: Optional[LogError] = None

    def feed(self, line: str) -> Optional[Sample]:
        """Takes one line; a line without its line end is the last one. The
        Sample when the line completes a progress line."""
        self._number += 1
        cut_short = not line.endswith("\n")
        line = line.rstrip("\n").rstrip("\r")
        if self._error is None:
            try:
                return self._take(line, cut_short)
            except LogError as error:
                self._error = error
        if MESSAGE.fullmatch(line):
            self.messages.append(line)
        return None

    def finish(self) -> List[Run]:
        """Every run, in order. Raises LogError naming source and line for a
        line that is not VORLAX output, a cut-short last line, text with no
        banner, or a run without a single progress line."""
        if self._error is not None:
            raise self._error
        if not self.runs:
            raise LogError("%s: not VORLAX output (no banner line)" % self.source)
        _check_has_samples(self.runs[-1], self.source)
        _place_completions(self.runs[-1], self._pending)
        place_rank_ends(self.runs[-1])
        return self.runs

    def _take(self, line: str, cut_short: bool) -> Optional[Sample]:
        where = "%s:%d" % (self.source, self._number)
        if cut_short and not (line == DONE or PROGRESS.fullmatch(line)):
            raise LogError("%s: line cut short: %r" % (where, _shorten(line)))
        banner = BANNER.fullmatch(line)
        if banner:
            _check_has_samples(self.runs[-1] if self.runs else None, self.source)
            if self.runs:
                _place_completions(self.runs[-1], self._pending)
                place_rank_ends(self.runs[-1])
            self._pending = []
            activity, mode, block_kb, threads, size_gb, ranks, hosts = banner.groups()
            self.runs.append(Run(self.source, mode == "buffered", int(block_kb), int(threads), int(size_gb),
                                 reading=activity == "reading", ranks=ranks and int(ranks),
                                 hosts=hosts and int(hosts)))
            return None
        if MESSAGE.fullmatch(line):
            self.messages.append(line)
            if self.runs:
                self.runs[-1].messages.append(line)
            return None
        if USAGE.fullmatch(line):
            raise LogError("%s: the usage text, not a run: vorlax was given a wrong command line" % where)
        if not self.runs:
            raise LogError("%s: not VORLAX output (no banner line before %r)" % (where, _shorten(line)))
        return self._take_line(line)

    def _take_line(self, line: str) -> Optional[Sample]:
        """A line of the current run: progress, completion, DONE! or a line
        of the MPI summary."""
        run = self.runs[-1]
        progress = PROGRESS.fullmatch(line)
        if progress:
            run.samples.append(sample_of(progress))
            _place_completions(run, self._pending)
            self._pending = []
            return run.samples[-1]
        completion = COMPLETION.fullmatch(line)
        if completion:
            self._pending.append(_completion(completion))
            run.completions.append(self._pending[-1])
        elif line == DONE:
            run.done = True
        elif LATENCY.fullmatch(line) or STALLS.fullmatch(line):
            _take_latency(run, LATENCY.fullmatch(line), STALLS.fullmatch(line))
        elif run.ranks is not None and MPI_SUMMARY.fullmatch(line):
            run.summary.append(line)
        else:
            raise LogError("%s:%d: not a VORLAX line: %r" % (self.source, self._number, _shorten(line)))
        return None


def _take_latency(run: Run, latency, stalls) -> None:
    """Run.latency from a log's latency line (its percentiles) or stall line
    (its threshold, count and longest stall), as a record gives them."""
    figures = run.latency = run.latency or {}
    if latency and latency.group(1):
        figures.update(zip(("median_ms", "p99_ms", "p99_9_ms", "max_ms"), (float(g) for g in latency.groups())))
    elif stalls:
        none_threshold, threshold, count, longest_ms, at_s = stalls.groups()
        figures["stalls"] = {"threshold_ms": float(none_threshold or threshold), "count": int(count or 0),
                             "longest": [{"ms": float(longest_ms), "at_s": float(at_s)}] if count else []}


def parse_text(text: str, source: str = "<stdin>") -> List[Run]:
    """Every run in text, in order; raises LogError as LogParser.finish()."""
    parser = LogParser(source)
    lines = text.split("\n")
    for line in lines[:-1]:
        parser.feed(line + "\n")
    if lines[-1]:
        parser.feed(lines[-1])
    return parser.finish()


def parse_file(path: str) -> List[Run]:
    """parse_text of a file's content, or the run of a run record (--json);
    "-" reads stdin. Raises LogError for a file that cannot be read, too."""
    try:
        if path == "-":
            text, path = sys.stdin.buffer.read().decode("utf-8", "replace"), "<stdin>"
        else:
            with open(path, "rb") as log:
                data = log.read()
            if b"\x00" in data:
                raise LogError("%s: binary data, not a VORLAX log (saved program output is text)" % path)
            text = data.decode("utf-8", "replace")
    except OSError as error:
        raise LogError("%s: cannot read: %s" % (path, os_reason(error))) from None
    from vorlax_record import looks_like_record, run_of_text  # a record is read as a run, too
    return [run_of_text(text, path)] if looks_like_record(text) else parse_text(text, path)


def _check_has_samples(run: Optional[Run], source: str) -> None:
    if run is not None and not run.samples:
        raise LogError("%s: the run '%s' has no progress line: it ended (or was cut) before its first second"
                       % (source, run.label()))


def _shorten(line: str, limit: int = 60) -> str:
    return line if len(line) <= limit else line[:limit] + "..."
