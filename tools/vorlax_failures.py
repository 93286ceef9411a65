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
OTHER = "failed"
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
)


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
