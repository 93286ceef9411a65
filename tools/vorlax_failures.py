"""What went wrong in a run, read from a VORLAX program's message lines
(stderr): the kind of each failure line, the notes, and the kinds of
messages that differ only in their figures. Part of the log reader:
vorlax_log re-exports all of it, and tools import it from there."""

import re
from dataclasses import dataclass
from typing import List, Optional

NOTE = re.compile(r"vorlax(?:-read|-mpi)?: note: .*")

FULL_DISK = "full disk"
BLOCK_SIZE = "block size refused"
NO_DIRECT = "unbuffered files refused"
MISSING_FOLDER = "missing folder"
READ_ONLY = "read-only file system"
NO_PERMISSION = "permission denied"
MISSING_FILE = "missing test file"
NO_MEMORY = "out of memory"
BAD_BLOCKS = "bad blocks"
UNREADABLE = "unreadable blocks"
HOLES = "holes"
SHORT_FILE = "short file"
LONG_FILE = "long file"
OTHER_BLOCK_SIZE = "other block size"
CUT_WHILE_READ = "file cut while read"
STUCK = "a thread stuck in a block"
OTHER = "failed"
# A stop is not a failure: said as such, first.
STOPPED_BY_CTRL_C = "stopped by Ctrl-C"
STOPPED_BY_SIGTERM = "stopped by SIGTERM"
STOPS = {"interrupt": STOPPED_BY_CTRL_C, "terminate": STOPPED_BY_SIGTERM}  # a record's "stopped"
# What a failure line says, by kind; the first pattern that matches wins.
FAILURE_KINDS = (
    (FULL_DISK, re.compile(r"No space left on device|Disk quota exceeded|File too large|the disk may be full")),
    (BLOCK_SIZE, re.compile(r"unbuffered (?:write|read) refused|sector size")),
    (NO_DIRECT, re.compile(r"for unbuffered (?:writing|reading)")),
    (MISSING_FOLDER, re.compile(r"the folder \S.* does not exist")),
    (READ_ONLY, re.compile(r"Read-only file system")),
    (NO_PERMISSION, re.compile(r"Permission denied|Operation not permitted")),
    (MISSING_FILE, re.compile(r"cannot open: No such file or directory")),
    (NO_MEMORY, re.compile(r"Cannot allocate memory|memory-backed .* more than")),
    (STOPPED_BY_CTRL_C, re.compile(r": run stopped by Ctrl-C: ")),
    (STOPPED_BY_SIGTERM, re.compile(r": run stopped by SIGTERM: ")),
    (STUCK, re.compile(r": run stopped at its time limit: .* not waited for")),
    # vorlax-read's line about a file (its problems in this order).
    (OTHER_BLOCK_SIZE, re.compile(r": written with \d+ KB blocks, not ")),
    (SHORT_FILE, re.compile(r": (?:cut short: \d+ whole|shorter than this run's)")),
    (LONG_FILE, re.compile(r": longer than this run's")),
    (HOLES, re.compile(r"\d+ holes?, where the file system keeps no data")),
    (UNREADABLE, re.compile(r"\d+ blocks? unreadable")),
    (CUT_WHILE_READ, re.compile(r"the file ended at block \d+ while it was read")),
    (BAD_BLOCKS, re.compile(r"\d+ bad blocks? of \d+ read")),
)
# A record's worker result (docs/record.md) in words, for a reason line of no known kind.
RESULTS = {"open_failed": "cannot open", "buffer_failed": "no buffer", "write_failed": "write failed",
           "write_short": "short write", "flush_failed": "flush failed", "not_started": "thread not started",
           "size_failed": "file length unknown", "bad_blocks": BAD_BLOCKS, "running": STUCK}


@dataclass
class Failure:
    kind: str   # FULL_DISK, BLOCK_SIZE, ...; OTHER for a line of no known kind
    line: str   # the program's own line, with its advice


def notes(messages: List[str]) -> List[str]:
    """The message lines that are notes ("vorlax: note: ..."), in order."""
    return [line for line in messages if NOTE.fullmatch(line)]


def kind_of(line: str) -> str:
    return next((kind for kind, pattern in FAILURE_KINDS if pattern.search(line)), OTHER)


def message_kind(line: str) -> str:
    """A message with its figures taken out: notes that differ only in
    their figures (the memory available, the MB in all) are of one kind."""
    return re.sub(r"\d+(?:\.\d+)?", "#", line)


def failure_of(messages: List[str]) -> Optional[Failure]:
    """The first message line that is not a note, with its kind; None when
    every line is a note."""
    for line in messages:
        if not NOTE.fullmatch(line):
            return Failure(kind_of(line), line)
    return None


def worker_kind(result: str, reason: Optional[str]) -> Optional[str]:
    """The kind of a record's worker: its reason line's when that is of a
    known kind, else its result in words (an unknown result as it is);
    None for one that completed or was stopped without a line."""
    kind = kind_of(reason) if reason else OTHER
    if kind != OTHER:
        return kind
    if result in ("completed", "stopped"):
        return OTHER if reason else None
    return RESULTS.get(result, result)


def shortfall_text(kinds: List[str]) -> Optional[str]:
    """"stopped by SIGTERM", "failed: bad blocks, missing test file",
    "stopped by Ctrl-C; failed: full disk", "failed" (no known kind);
    None for no kinds. Each kind once; a stop first."""
    kinds = list(dict.fromkeys(kinds))
    stops = [kind for kind in kinds if kind in STOPS.values()]
    failures = [kind for kind in kinds if kind not in stops and (kind != OTHER or len(kinds) == len(stops) + 1)]
    failed = "failed" + (": " + ", ".join(failures) if failures != [OTHER] else "") if failures else None
    return "; ".join(stops + ([failed] if failed else [])) or None
