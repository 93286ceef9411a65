"""A fill: the free space of a file system written by vorlax runs back to
back, each on files of its own (vorlax-fill-000_00.BIN, ...). The plan and
the checks are pure; fill_runs() runs vorlax and cleans up after it."""

import os
from dataclasses import dataclass, field
from typing import Callable, List, Optional

from vorlax_log import LogError, Run, Sample, parse_text
from vorlax_sweep import Pass, Settings, run_pass, test_file_names

GIB = 1 << 30
PREFIX_NAME = "vorlax-fill"
MAX_FILE_GB = 63
MEMORY_BACKED = {"tmpfs", "ramfs", "devtmpfs", "hugetlbfs"}


class Refusal(Exception):
    """A fill that cannot start; str() is the one-line reason (exit status 2)."""


@dataclass
class Plan:
    free_bytes: int
    margin_bytes: int        # left free: the larger of 1 GiB and 1 % of the file system
    threads: int
    run_gb: List[int]        # GB per file of each run, in order

    def total_gb(self) -> int:
        return self.threads * sum(self.run_gb)


def margin_bytes(fs_bytes: int) -> int:
    return max(GIB, fs_bytes // 100)


def run_sizes(total_gb: int, threads: int, max_file_gb: int = MAX_FILE_GB) -> List[int]:
    """GB per file of each run writing total_gb in files of up to
    max_file_gb, threads files a run; what does not make whole GB in every
    file is left out."""
    sizes, left = [], total_gb
    while left >= threads:
        size = min(max_file_gb, left // threads)
        sizes.append(size)
        left -= size * threads
    return sizes


def make_plan(free_bytes: int, fs_bytes: int, threads: int, block_kb: int, size_gb: Optional[int] = None,
              max_file_gb: int = MAX_FILE_GB) -> Plan:
    """The runs that write the free space less the margin (at most size_gb
    when given). Raises Refusal when not one run fits, or not two blocks
    per thread."""
    margin = margin_bytes(fs_bytes)
    usable = max(0, free_bytes - margin)
    total_gb = usable // GIB if size_gb is None else min(size_gb, usable // GIB)
    plan = Plan(free_bytes, margin, threads, run_sizes(total_gb, threads, max_file_gb))
    if usable < 2 * threads * block_kb * 1024 or not plan.run_gb:
        raise Refusal("%.2f GB free, %.2f GB of it kept free as a margin: less than one run of %d x 1 GB; "
                      "free some space%s" % (free_bytes / GIB, margin / GIB, threads,
                                             " or use fewer threads" if threads > 1 else ""))
    return plan


def duration_text(seconds: float) -> str:
    """"45 s", "12 min", "3.5 h"."""
    if seconds < 90:
        return "%.0f s" % seconds
    if seconds < 90 * 60:
        return "%.0f min" % (seconds / 60)
    return "%.1f h" % (seconds / 3600)


def plan_text(plan: Plan, folder: str, settings: Settings) -> str:
    """What the fill will do, said before the first byte."""
    total_mb = plan.total_gb() * 1024
    return ("will write %d GB of the %.1f GB free in %s (%.1f GB left free) in %d run%s of vorlax %s, "
            "up to %d GB per file; roughly %s at 1000 MB/s, %s at 100 MB/s" % (
                plan.total_gb(), plan.free_bytes / GIB, folder, (plan.free_bytes - plan.total_gb() * GIB) / GIB,
                len(plan.run_gb), "" if len(plan.run_gb) == 1 else "s", settings.label(), max(plan.run_gb),
                duration_text(total_mb / 1000.0), duration_text(total_mb / 100.0)))


def prefix_of(folder: str, number: int) -> str:
    return os.path.join(folder, "%s-%03d" % (PREFIX_NAME, number))


def names_in_use(folder: str, runs: int, threads: int) -> List[str]:
    """The fill's file names that exist already (any kind of file)."""
    return [name for number in range(runs) for name in test_file_names(prefix_of(folder, number), threads)
            if os.path.lexists(name)]


def check_folder(folder: str, fs_type: str) -> None:
    """Raises Refusal for a folder that is missing, cannot be written or is
    memory-backed."""
    if not os.path.isdir(folder):
        raise Refusal("%s: no such folder; name an existing folder on the disk to fill" % folder)
    read_only = os.statvfs(folder).f_flag & os.ST_RDONLY
    if read_only or not os.access(folder, os.W_OK | os.X_OK):
        raise Refusal("%s: cannot write there (%s); name a folder you can write on the disk to fill" % (
            folder, "read-only file system" if read_only else "permission denied"))
    if fs_type in MEMORY_BACKED:
        raise Refusal("%s: a memory-backed file system (%s): there the memory is the cache, and filling it "
                      "fills the memory; name a folder on a disk" % (folder, fs_type))


def check_names(folder: str, runs: int, threads: int) -> None:
    """Raises Refusal when a name the fill would use exists."""
    taken = names_in_use(folder, runs, threads)
    if taken:
        raise Refusal("%s: exists already, and the fill does not touch files it did not make; move it away or "
                      "fill another folder" % taken[0])


def space_of(folder: str):
    """(free bytes for this user, file system bytes)."""
    stat = os.statvfs(folder)
    return stat.f_bavail * stat.f_frsize, stat.f_blocks * stat.f_frsize


@dataclass
class FillRun:
    """One vorlax run of a fill, and its read back."""
    prefix: str
    settings: Settings
    write: Pass
    run: Optional[Run] = None         # its log as read back, None when it has no progress line
    read: Optional[Pass] = None
    read_run: Optional[Run] = None


@dataclass
class Fill:
    runs: List[FillRun] = field(default_factory=list)
    made: List[str] = field(default_factory=list)    # every file the fill created, in order
    stopped: Optional[str] = None                    # why it ended before the plan's end

    def samples(self, reading: bool = False) -> List[Run]:
        return [r for r in ((one.read_run if reading else one.run) for one in self.runs) if r is not None]


def _logged(program: str, prefix: str, settings: Settings, log_path: str, whole_log: str,
            on_sample: Callable[[Sample], None]):
    """run_pass, its output added to whole_log; (Pass, Run or None)."""
    text = ""
    try:
        done = run_pass(program, prefix, settings, log_path, on_sample)
    finally:
        if os.path.exists(log_path):
            with open(log_path) as part:
                text = part.read()
            with open(whole_log, "a") as log:
                log.write(text)
            os.remove(log_path)
    try:
        return done, parse_text(text, whole_log)[-1]
    except LogError:
        return done, None


def fill_runs(vorlax: str, folder: str, plan: Plan, settings: Settings, out_dir: str, fill: Fill,
              on_start: Callable[[int, Settings], None], on_sample: Callable[[Sample], None],
              on_done: Callable[[FillRun], None]) -> None:
    """Writes the plan's runs in order into fill (its made files listed
    before each run starts), each run's output appended to out_dir/fill.log.
    Ends early, with fill.stopped saying why, when a run falls short (a
    full disk) or the free space shrank below the next run."""
    whole_log = os.path.join(out_dir, "fill.log")
    for number, size_gb in enumerate(plan.run_gb):
        prefix = prefix_of(folder, number)
        free, _ = space_of(folder)
        # Half the margin may go to the file system's own records of the files written so far.
        if free - plan.margin_bytes // 2 < size_gb * settings.threads * GIB:
            fill.stopped = ("the free space shrank to %.2f GB before run %d (something else wrote): the fill "
                            "ends there" % (free / GIB, number + 1))
            return
        names = test_file_names(prefix, settings.threads)
        if any(os.path.lexists(name) for name in names):
            fill.stopped = "%s appeared while the fill ran, made by something else: the fill ends there" % next(
                name for name in names if os.path.lexists(name))
            return
        fill.made += names
        one = Settings(settings.mode, settings.block_kb, settings.threads, size_gb)
        on_start(number, one)
        write, run = _logged(vorlax, prefix, one, os.path.join(out_dir, "run.tmp"), whole_log, on_sample)
        done = FillRun(prefix, one, write, run)
        fill.runs.append(done)
        on_done(done)
        if write.exit_status != 0:
            reason = write.messages[0] if write.messages else "exit status %d" % write.exit_status
            full = "No space left" in reason
            fill.stopped = "run %d %s: %s" % (number + 1, "met a full disk" if full else "failed", reason)
            return


def read_back(vorlax_read: str, fill: Fill, out_dir: str, on_start, on_sample) -> None:
    """Reads each run's files back with vorlax-read, its output appended to
    out_dir/fill-read.log."""
    whole_log = os.path.join(out_dir, "fill-read.log")
    for number, one in enumerate(fill.runs):
        if one.write.exit_status != 0:
            continue
        on_start(number, one.settings)
        one.read, one.read_run = _logged(vorlax_read, one.prefix, one.settings, os.path.join(out_dir, "run.tmp"),
                                         whole_log, on_sample)


def remove_made(fill: Fill) -> List[str]:
    """Deletes the files the fill made; returns those it could not delete."""
    left = []
    for name in fill.made:
        try:
            os.remove(name)
        except FileNotFoundError:
            pass
        except OSError as error:
            left.append("%s: %s" % (name, error.strerror))
    return left
