"""Runs the cells of a sweep: each cell is one vorlax command line, written
with vorlax and read back with vorlax-read, its test files removed after
each run so that every run starts on fresh files."""

import time
from dataclasses import dataclass
from typing import List, Optional

from vorlax_log import ToolError
from vorlax_runner import Pass, Settings, remove_files, run_pass, test_file_names

PREFIX_NAME = "vorlax-sweep"


class SweepError(ToolError):
    """A sweep that cannot start: no program to run, no folder to measure."""


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


def remove_test_files(prefix: str, threads: int) -> List[str]:
    return remove_files(test_file_names(prefix, threads))


def log_name(cell_number: int, settings: Settings, repeat: int, runs: int, reading: bool) -> str:
    """"03-U-1024K-2t.log"; "-r2" for the second of several runs; "-read" for its read."""
    return "%02d-%s-%dK-%dt%s%s.log" % (cell_number, settings.mode, settings.block_kb, settings.threads,
                                        "-r%d" % repeat if runs > 1 else "", "-read" if reading else "")


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
