"""A fill: the free space of a file system written by vorlax runs back to
back, each on files of its own (vorlax-fill-000_00.BIN, ...). The plan and
the checks are pure; fill_runs() runs vorlax and cleans up after it."""

import os
from dataclasses import dataclass, field
from typing import Callable, List, Optional, Tuple

from vorlax_log import FULL_DISK, Run, Sample
from vorlax_record import attach_record
from vorlax_runner import Pass, Settings, Stopped, remove_files, run_pass, test_file_names

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
    size_gb: Optional[int] = None   # --size, when given

    def total_gb(self) -> int:
        return self.threads * sum(self.run_gb)

    def rounded_off_gb(self) -> float:
        """GB the fill leaves unwritten beyond the margin and --size: vorlax
        writes whole GB in every thread's file."""
        wanted = (self.free_bytes - self.margin_bytes) / GIB
        return max(0.0, min(wanted, self.size_gb or wanted) - self.total_gb())

    def left_free_text(self) -> str:
        """"leaving 1.4 GB of the 7.4 GB free (at least the 1.0 GB margin)",
        and the part rounded off when it is 0.1 GB or more: the plan line
        and fill.md say the same."""
        rounded = self.rounded_off_gb()
        why = "; %.1f GB more, as vorlax writes whole GB in %s: a change of speed there is not seen" % (
            rounded, "each file" if self.threads == 1 else "each of the %d threads' files" % self.threads)
        return "leaving %.1f GB of the %.1f GB free (at least the %.1f GB margin%s)" % (
            (self.free_bytes - self.total_gb() * GIB) / GIB, self.free_bytes / GIB, self.margin_bytes / GIB,
            why if rounded >= 0.05 else "")


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
    per thread, naming what limits it (the space or --size) and the
    --threads or --size that fits."""
    margin = margin_bytes(fs_bytes)
    usable = max(0, free_bytes - margin)
    total_gb = usable // GIB if size_gb is None else min(size_gb, usable // GIB)
    plan = Plan(free_bytes, margin, threads, run_sizes(total_gb, threads, max_file_gb), size_gb)
    if usable >= 2 * threads * block_kb * 1024 and plan.run_gb:
        return plan
    room = usable // GIB

    def fewer(count: int) -> str:
        return "--threads 1" if count == 1 else "--threads %d or fewer" % count
    if size_gb is not None and size_gb < threads and room >= 1:
        raise Refusal("--size %d is less than one run of %d x 1 GB (a whole GB in each thread's file): use %s%s" % (
            size_gb, threads, "--size %d or more, or " % threads if threads <= room else "", fewer(min(size_gb, room))))
    fits = " or use %s" % fewer(room) if 1 <= room < threads else ""
    raise Refusal("%.2f GB free, %.2f GB of it kept free as a margin: less than one run of %d x 1 GB; "
                  "free some space%s" % (free_bytes / GIB, margin / GIB, threads, fits))


def check_system_disk(folder: str, size_gb: Optional[int], system: List[str], free_bytes: int,
                      fs_bytes: int) -> None:
    """Raises Refusal for a fill without --size of the file system that
    holds what system names ("/", the user's home): the command to fill it
    leaving 10 % free instead."""
    if size_gb is not None or not system:
        return
    keep_10 = (free_bytes - fs_bytes // 10) // GIB
    instead = ("vorlax-fill --size %d %s leaves 10 %% of it free" % (keep_10, folder) if keep_10 >= 1 else
               "less than 10 % of it is free: fill another disk")
    raise Refusal("%s is on the file system that holds %s: the system and other programs need that space, so "
                  "a fill there needs --size; %s" % (folder, " and ".join(system), instead))


def duration_text(seconds: float) -> str:
    """"45 s", "12 min", "3.5 h"."""
    if seconds < 90:
        return "%.0f s" % seconds
    if seconds < 90 * 60:
        return "%.0f min" % (seconds / 60)
    return "%.1f h" % (seconds / 3600)


RECENT_S = 10.0


def recent_points(points: List[Tuple[float, float]], done_s: float, done_mb: float) -> List[Tuple[float, float]]:
    """points (s, MB of the whole fill) with (done_s, done_mb) added and
    those more than RECENT_S before it dropped but the last such (the
    window's start)."""
    points = points + [(done_s, done_mb)]
    while len(points) > 2 and points[1][0] <= done_s - RECENT_S:
        points = points[1:]
    return points


def time_left_s(points: List[Tuple[float, float]], left_mb: float) -> Optional[float]:
    """Seconds left for left_mb at the rate of the last RECENT_S of
    progress (recent_points()); None before two points or with no
    progress."""
    if len(points) < 2 or points[-1][1] <= points[0][1] or points[-1][0] <= points[0][0]:
        return None
    return max(0.0, left_mb) * (points[-1][0] - points[0][0]) / (points[-1][1] - points[0][1])


def plan_text(plan: Plan, folder: str, settings: Settings) -> str:
    """What the fill will do, said before the first byte."""
    total_mb = plan.total_gb() * 1024
    less = ("; --size %d is more than that: the free space less the margin, in whole GB per %s, allows %d GB" % (
        plan.size_gb, "file" if plan.threads == 1 else "thread's file", plan.total_gb())
            if plan.size_gb is not None and plan.size_gb > plan.total_gb() else "")
    return ("will write %d GB in %s, %s, in %d run%s of vorlax %s, up to %d GB per file%s; roughly %s at "
            "1000 MB/s, %s at 100 MB/s" % (
                plan.total_gb(), folder, plan.left_free_text(), len(plan.run_gb),
                "" if len(plan.run_gb) == 1 else "s", settings.label(), max(plan.run_gb), less,
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
    if os.path.exists(folder) and not os.path.isdir(folder):
        raise Refusal("%s: not a folder; name a folder on the disk to fill" % folder)
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
    interrupted: bool = False         # stopped part way (Ctrl-C, SIGTERM): its lines so far are in run


@dataclass
class Fill:
    runs: List[FillRun] = field(default_factory=list)
    made: List[str] = field(default_factory=list)    # every file the fill created, in order
    stopped: Optional[str] = None                    # why it ended before the plan's end
    full_disk: Optional[str] = None                  # why the disk is (nearly) full: its files go despite --keep

    def samples(self, reading: bool = False) -> List[Run]:
        return [r for r in ((one.read_run if reading else one.run) for one in self.runs) if r is not None]


def _logged(program: str, prefix: str, settings: Settings, log_path: str, whole_log: str,
            on_sample: Callable[[Sample], None]):
    """run_pass, its output added to whole_log; (Pass, Run or None, True
    when a KeyboardInterrupt stopped it: the caller records it, then stops)."""
    stopped = False
    try:
        done = run_pass(program, prefix, settings, log_path, on_sample)
    except KeyboardInterrupt as stop:  # Stopped, or a stop before the program started
        done = stop.done if isinstance(stop, Stopped) else Pass(130, None, log_path)
        stopped = True
    finally:
        if os.path.exists(log_path):
            with open(log_path) as part, open(whole_log, "a") as log:
                log.write(part.read())
            os.remove(log_path)
    record_path = os.path.splitext(log_path)[0] + ".json"  # run_pass's --json record
    if done.run is not None:
        attach_record(done.run, record_path)
    if os.path.exists(record_path):
        os.remove(record_path)
    return done, done.run, stopped


def fill_runs(vorlax: str, folder: str, plan: Plan, settings: Settings, out_dir: str, fill: Fill,
              on_start: Callable[[int, Settings], None], on_sample: Callable[[Sample], None],
              on_done: Callable[[FillRun], None]) -> None:
    """Writes the plan's runs in order into fill (its made files listed
    before each run starts), each run's output appended to out_dir/fill.log.
    Ends early, with fill.stopped saying why, when a run falls short (a
    full disk) or the free space shrank below the next run; fill.full_disk
    says why when the disk is left (nearly) full."""
    whole_log = os.path.join(out_dir, "fill.log")
    for number, size_gb in enumerate(plan.run_gb):
        prefix = prefix_of(folder, number)
        free, _ = space_of(folder)
        # Half the margin may go to the file system's own records of the files written so far.
        if free - plan.margin_bytes // 2 < size_gb * settings.threads * GIB:
            fill.stopped = ("the free space shrank to %.2f GB before run %d (something else wrote): the fill "
                            "ends there" % (free / GIB, number + 1))
            if free < plan.margin_bytes:
                fill.full_disk = "something else filled the disk to %.2f GB free" % (free / GIB)
            return
        names = test_file_names(prefix, settings.threads)
        if any(os.path.lexists(name) for name in names):
            fill.stopped = "%s appeared while the fill ran, made by something else: the fill ends there" % next(
                name for name in names if os.path.lexists(name))
            return
        fill.made += names
        one = Settings(settings.mode, settings.block_kb, settings.threads, size_gb)
        on_start(number, one)
        write, run, interrupted = _logged(vorlax, prefix, one, os.path.join(out_dir, "run.tmp"), whole_log, on_sample)
        done = FillRun(prefix, one, write, run, interrupted=interrupted)
        fill.runs.append(done)
        if interrupted:
            raise KeyboardInterrupt
        on_done(done)
        if not write.ok():
            failure = write.failure()
            reason = failure.line if failure else write.unreadable or "exit status %d" % write.exit_status
            full = failure is not None and failure.kind == FULL_DISK
            fill.stopped = "run %d %s: %s" % (number + 1, "met a full disk" if full else "failed", reason)
            fill.full_disk = "a run met a full disk" if full else None
            return


def read_back(vorlax_read: str, fill: Fill, out_dir: str, on_start, on_sample) -> None:
    """Reads each run's files back with vorlax-read, its output appended to
    out_dir/fill-read.log."""
    whole_log = os.path.join(out_dir, "fill-read.log")
    for number, one in enumerate(fill.runs):
        if not one.write.ok():
            continue
        on_start(number, one.settings)
        one.read, one.read_run, interrupted = _logged(vorlax_read, one.prefix, one.settings,
                                                      os.path.join(out_dir, "run.tmp"), whole_log, on_sample)
        if interrupted:
            raise KeyboardInterrupt


def remove_made(fill: Fill) -> List[str]:
    """Deletes the files the fill made; returns those it could not delete."""
    return remove_files(fill.made)
