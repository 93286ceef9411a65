"""Runs the cells of a sweep: each cell is one vorlax command line, written
with vorlax and read back with vorlax-read, its test files removed after
each run so that every run starts on fresh files."""

import os
import subprocess
import time
from dataclasses import dataclass, field
from typing import Callable, List, Optional

from vorlax_log import LogError, LogParser, Sample, ToolError, failure_of, run_label
from vorlax_record import latency_of_file

PREFIX_NAME = "vorlax-sweep"


class SweepError(ToolError):
    """A sweep that cannot start: no program to run, no folder to measure."""


@dataclass
class Settings:
    """One cell of the matrix: a vorlax command line."""
    mode: str        # "B" or "U"
    block_kb: int
    threads: int
    size_gb: int

    def label(self) -> str:
        return run_label(self.mode, self.block_kb, self.threads)

    def total_mb(self) -> int:
        return self.threads * self.size_gb * 1024

    def arguments(self, prefix: str) -> List[str]:
        return [self.mode, prefix, str(self.block_kb), str(self.threads), str(self.size_gb)]


@dataclass
class Pass:
    """One program's run over the cell's files: a write or a read."""
    exit_status: int
    final: Optional[Sample]         # the last progress line, if any
    log_path: str
    messages: List[str] = field(default_factory=list)   # the program's stderr lines
    unreadable: Optional[str] = None  # why its log gave no run (LogError), None when it did
    latency: Optional[dict] = None  # its record's block times (docs/record.md), when it wrote one

    def ok(self) -> bool:
        return self.exit_status == 0 and self.final is not None


@dataclass
class Result:
    """One run of a cell: its write and, when read back, its read."""
    settings: Settings
    repeat: int                     # 1 to the sweep's --runs
    write: Pass
    read: Optional[Pass] = None     # None: not read (reads skipped, or the write failed)


def matrix(modes: List[str], blocks_kb: List[int], threads: List[int], size_gb: int) -> List[Settings]:
    """Every combination, mode slowest-changing, then block size, then threads."""
    return [Settings(mode, block, count, size_gb) for mode in modes for block in blocks_kb for count in threads]


def test_file_names(prefix: str, threads: int) -> List[str]:
    return ["%s_%02d.BIN" % (prefix, index) for index in range(threads)]


def remove_files(names: List[str]) -> List[str]:
    """Removes those of names that exist; "name: reason" for each it could
    not remove (a read-only file system, a folder without permission),
    never an exception."""
    left = []
    for name in names:
        try:
            if os.path.lexists(name):
                os.remove(name)
        except OSError as error:
            left.append("%s: %s" % (name, error.strerror or error))
    return left


def remove_test_files(prefix: str, threads: int) -> List[str]:
    return remove_files(test_file_names(prefix, threads))


def log_name(cell_number: int, settings: Settings, repeat: int, runs: int, reading: bool) -> str:
    """"03-U-1024K-2t.log"; "-r2" for the second of several runs; "-read" for its read."""
    return "%02d-%s-%dK-%dt%s%s.log" % (cell_number, settings.mode, settings.block_kb, settings.threads,
                                        "-r%d" % repeat if runs > 1 else "", "-read" if reading else "")


_TAKES_RECORDS = {}


def takes_records(program: str) -> bool:
    """True when program's --help offers --json (an older build does not)."""
    if program not in _TAKES_RECORDS:
        try:
            help_text = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60).stdout
        except (OSError, subprocess.SubprocessError):
            help_text = ""
        _TAKES_RECORDS[program] = "--json" in help_text
    return _TAKES_RECORDS[program]


def run_pass(program: str, prefix: str, settings: Settings, log_path: str,
             on_sample: Callable[[Sample], None]) -> Pass:
    """Runs program once with the cell's arguments, stdout and stderr
    together into log_path, calling on_sample for each progress line as it
    arrives; where program takes --json, its run record goes beside the log
    (.json for .log) and its block times into the Pass. A Ctrl-C
    (KeyboardInterrupt) stops the program before it is passed on."""
    parser = LogParser(log_path)
    record_path = os.path.splitext(log_path)[0] + ".json" if takes_records(program) else None
    options = ["--json", record_path] if record_path else []
    with open(log_path, "w") as log:
        process = subprocess.Popen([program] + options + settings.arguments(prefix), stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, errors="replace")
        try:
            for line in process.stdout:
                log.write(line)
                log.flush()  # the log as far as the program got, for whoever reads it meanwhile
                sample = parser.feed(line)
                if sample:
                    on_sample(sample)
            exit_status = process.wait()
        except BaseException:
            process.terminate()
            process.wait()
            raise
    latency = latency_of_file(record_path) if record_path else None
    try:
        return Pass(exit_status, parser.finish()[-1].final(), log_path, parser.messages, latency=latency)
    except LogError as error:
        return Pass(exit_status, None, log_path, parser.messages, str(error), latency)


def run_cell(vorlax: str, vorlax_read: Optional[str], prefix: str, settings: Settings, repeat: int,
             log_paths: List[str], keep: bool, progress) -> Result:
    """One run of a cell: the write, then (with vorlax_read, and when the
    write wrote everything) the read back; the test files are removed
    after it unless keep, and what could not be removed is said.
    log_paths: the write's log and the read's."""
    try:
        progress.phase("write")
        result = Result(settings, repeat, run_pass(vorlax, prefix, settings, log_paths[0], progress.sample))
        if vorlax_read and result.write.ok():
            progress.phase("read")
            result.read = run_pass(vorlax_read, prefix, settings, log_paths[1], progress.sample)
        return result
    finally:
        if not keep:
            for line in remove_test_files(prefix, settings.threads):
                progress.say("could not remove %s" % line)


def elapsed_text(start: float) -> str:
    return "%.1f s" % (time.monotonic() - start)


def write_status(write: Pass) -> str:
    """"ok"; "failed (exit 1): full disk"; "failed: no progress line (why)"
    for a program that ended well but printed no progress line."""
    if write.exit_status == 0:
        return "ok" if write.final else "failed: no progress line (%s)" % write.unreadable
    failure = failure_of(write.messages)
    return "failed (exit %d)%s" % (write.exit_status, ": " + failure.kind if failure else "")


def read_verdict(read: Optional[Pass]) -> str:
    """pass: every file whole and every block right; fail: vorlax-read found
    something wrong (exit 1) or could not run."""
    if read is None:
        return "not read"
    return {0: "pass", 1: "fail"}.get(read.exit_status, "fail (exit %d)" % read.exit_status)
