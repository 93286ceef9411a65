"""Runs vorlax over a matrix of settings on one folder and tabulates the
final sustained rate of each run (Markdown, CSV and a bar chart)."""

import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass, field
from typing import Callable, List, Optional

from vorlax_log import PROGRESS, LogError, Sample, parse_text

PREFIX_NAME = "vorlax-sweep"


@dataclass
class Settings:
    """One vorlax command line of the matrix."""
    mode: str        # "B" or "U"
    block_kb: int
    threads: int
    size_gb: int

    def label(self) -> str:
        return "%s %dK x%d" % (self.mode, self.block_kb, self.threads)

    def total_mb(self) -> int:
        return self.threads * self.size_gb * 1024


@dataclass
class Result:
    settings: Settings
    exit_status: int
    final: Optional[Sample]         # the last progress line, if any
    log_path: str
    messages: List[str] = field(default_factory=list)   # vorlax's stderr lines


def matrix(modes: List[str], blocks_kb: List[int], threads: List[int], size_gb: int) -> List[Settings]:
    """Every combination, mode slowest-changing, then block size, then threads."""
    return [Settings(mode, block, count, size_gb) for mode in modes for block in blocks_kb for count in threads]


def find_vorlax(given: Optional[str], tool_folder: str) -> str:
    """The vorlax binary: given, else the one next to the tool, else the one
    on PATH, else build/vorlax of the source tree the tool lives in. Raises
    LogError when there is none."""
    if given:
        if shutil.which(given) is None:
            raise LogError("%s: not an executable program; name the vorlax binary with --vorlax" % given)
        return os.path.abspath(given) if os.sep in given else shutil.which(given)
    for candidate in (os.path.join(tool_folder, "vorlax"), shutil.which("vorlax"),
                      os.path.join(tool_folder, "..", "build", "vorlax")):
        if candidate and os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return os.path.normpath(candidate)
    raise LogError("no vorlax binary next to this tool, on PATH or in build/; name it with --vorlax")


def test_file_names(prefix: str, threads: int) -> List[str]:
    return ["%s_%02d.BIN" % (prefix, index) for index in range(threads)]


def remove_test_files(prefix: str, threads: int) -> None:
    for name in test_file_names(prefix, threads):
        try:
            os.remove(name)
        except FileNotFoundError:
            pass


def run_one(vorlax: str, prefix: str, settings: Settings, log_path: str,
            on_sample: Callable[[Sample], None]) -> Result:
    """Runs vorlax once with stdout and stderr together into log_path,
    calling on_sample for each progress line as it arrives. A Ctrl-C
    (KeyboardInterrupt) stops vorlax before it is passed on."""
    command = [vorlax, settings.mode, prefix, str(settings.block_kb), str(settings.threads), str(settings.size_gb)]
    with open(log_path, "w") as log:
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                   errors="replace")
        try:
            for line in process.stdout:
                log.write(line)
                progress = PROGRESS.fullmatch(line.rstrip("\n"))
                if progress:
                    on_sample(_sample(progress))
            exit_status = process.wait()
        except BaseException:
            process.terminate()
            process.wait()
            raise
    with open(log_path) as log:
        text = log.read()
    messages = [line for line in text.splitlines() if line.startswith("vorlax: ")]
    try:
        final = parse_text(text, log_path)[-1].final()
    except LogError:
        final = None
    return Result(settings, exit_status, final, log_path, messages)


def _sample(progress) -> Sample:
    seconds, millis, total, sustained, incremental = (int(g) for g in progress.groups())
    return Sample(seconds * 1000 + millis, total, sustained, incremental)


def _status(result: Result) -> str:
    return "ok" if result.exit_status == 0 else "failed (exit %d)" % result.exit_status


def markdown_table(results: List[Result], target: str) -> str:
    """The results as a Markdown table with vorlax's notes and failures
    (each once) below it."""
    lines = ["# VORLAX sweep of %s" % target, "",
             "| mode | block KB | threads | GB each | MB written | seconds | sustained MB/s | status |",
             "|---|---:|---:|---:|---:|---:|---:|---|"]
    for result in results:
        s, final = result.settings, result.final
        figures = ("%d | %.3f | %d" % (final.total_mb, final.elapsed_s, final.sustained_mbps)) if final else "| |"
        lines.append("| %s | %d | %d | %d | %s | %s |" % (s.mode, s.block_kb, s.threads, s.size_gb, figures,
                                                          _status(result)))
    # Each message once, with the runs that gave it (figures aside).
    said = {}
    for result in results:
        for message in result.messages:
            entry = said.setdefault(re.sub(r"\d+", "#", message), [message, []])
            entry[1].append(result.settings.label())
    if said:
        lines += ["", "What vorlax said:", ""]
        lines += ["- %s: `%s`" % (", ".join(labels), message) for message, labels in said.values()]
    return "\n".join(lines) + "\n"


def csv_table(results: List[Result]) -> str:
    lines = ["mode,block_kb,threads,size_gb,mb_written,elapsed_s,sustained_mbps,exit_status"]
    for result in results:
        s, final = result.settings, result.final
        figures = ("%d,%.3f,%d" % (final.total_mb, final.elapsed_s, final.sustained_mbps)) if final else ",,"
        lines.append("%s,%d,%d,%d,%s,%d" % (s.mode, s.block_kb, s.threads, s.size_gb, figures, result.exit_status))
    return "\n".join(lines) + "\n"


def draw_chart(results: List[Result], path: str) -> None:
    """Bars of the final sustained MB/s: one group per block size, one bar
    per mode and thread count."""
    from vorlax_charts import plot_bars
    blocks = sorted({r.settings.block_kb for r in results})
    names = sorted({(r.settings.mode, r.settings.threads) for r in results})
    values = [[None] * len(names) for _ in blocks]
    for result in results:
        if result.final and result.exit_status == 0:
            row = blocks.index(result.settings.block_kb)
            values[row][names.index((result.settings.mode, result.settings.threads))] = result.final.sustained_mbps
    plot_bars(["%s x%d" % name for name in names], ["%dK" % block for block in blocks], values, path,
              title="VORLAX sweep: sustained MB/s by block size (%d GB per thread)" % results[0].settings.size_gb)


class Progress:
    """Which run is on and how many remain: a bar redrawn in place on a
    terminal, a plain line per run otherwise (both on stderr)."""

    def __init__(self, total_runs: int, stream=sys.stderr):
        self.total_runs = total_runs
        self.stream = stream
        self.terminal = stream.isatty()
        self.number = 0
        self.settings: Optional[Settings] = None

    def start(self, number: int, settings: Settings) -> None:
        self.number, self.settings = number, settings
        if self.terminal:
            self.sample(None)
        else:
            self._say("run %d of %d (%d left after it): %s, %d GB each" % (
                number, self.total_runs, self.total_runs - number, settings.label(), settings.size_gb))

    def sample(self, sample: Optional[Sample]) -> None:
        if not self.terminal:
            return
        part = min(1.0, sample.total_mb / self.settings.total_mb()) if sample else 0.0
        done = (self.number - 1 + part) / self.total_runs
        bar = "#" * int(done * 30)
        figures = " %5.1f s %5d MB/s" % (sample.elapsed_s, sample.sustained_mbps) if sample else ""
        self.stream.write("\r\033[K[%-30s] run %d/%d, %d left: %s%s" % (
            bar, self.number, self.total_runs, self.total_runs - self.number, self.settings.label(), figures))
        self.stream.flush()

    def finish(self, result: Result) -> None:
        figures = ("%d MB/s sustained over %.1f s" % (result.final.sustained_mbps, result.final.elapsed_s)
                   if result.final else "no progress line")
        if self.terminal:
            self.stream.write("\r\033[K")
        self._say("run %d of %d: %s: %s, %s" % (self.number, self.total_runs, result.settings.label(),
                                                figures, _status(result)))

    def _say(self, text: str) -> None:
        self.stream.write("vorlax-sweep: %s\n" % text)
        self.stream.flush()


def write_outputs(results: List[Result], out_dir: str, target: str, chart_name: str) -> List[str]:
    """Writes results.md, results.csv and the chart into out_dir; returns
    their paths (no chart when no run finished)."""
    written = []
    for name, text in (("results.md", markdown_table(results, target)), ("results.csv", csv_table(results))):
        path = os.path.join(out_dir, name)
        with open(path, "w") as table:
            table.write(text)
        written.append(path)
    if any(result.final for result in results):
        path = os.path.join(out_dir, chart_name)
        draw_chart(results, path)
        written.append(path)
    return written


def elapsed_text(start: float) -> str:
    return "%.1f s" % (time.monotonic() - start)
