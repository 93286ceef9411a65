"""The summary a vorlax-mpi log gives before DONE!: which of its lines are
summary lines, and the per-rank rows with when each rank ended. Part of the
log reader: vorlax_log re-exports it, and tools import it from there."""

import re
from dataclasses import dataclass
from typing import TYPE_CHECKING, List, Optional

if TYPE_CHECKING:
    from vorlax_log import Run

# The lines of vorlax-mpi's summary, between the last completion line and DONE!.
MPI_SUMMARY = re.compile(r"(?:failed: )?rank \d+ on .*|(?:slowest|fastest|start|tail|durable|stonewall|wear-out): .*|MB/s (?:while|to) .*"
                         r"|no figures: .*|check the files with vorlax-read .*")
RANK_ROW = re.compile(r"rank (\d+) on (.+): \d+ MB written in (\d+)\.(\d{3}) s, (\d+) MB/s(?:, fell short)?")
FAILED_RANK = re.compile(r"failed: rank (\d+) on (.+?): .*")


@dataclass
class RankRow:
    rank: int
    host: str
    mbps: Optional[int]        # None for a rank that failed before it wrote
    elapsed_ms: Optional[int]  # when the rank's last thread ended


def rank_rows(run: "Run") -> List[RankRow]:
    """The per-rank rows of a vorlax-mpi summary, in the order printed."""
    rows = []
    for line in run.summary:
        row, failed = RANK_ROW.fullmatch(line), FAILED_RANK.fullmatch(line)
        if row:
            rows.append(RankRow(int(row.group(1)), row.group(2), int(row.group(5)),
                                int(row.group(3)) * 1000 + int(row.group(4))))
        elif failed:
            rows.append(RankRow(int(failed.group(1)), failed.group(2), None, None))
    return rows


def place_rank_ends(run: "Run") -> None:
    """A vorlax-mpi rank's completions at the time its summary row gives:
    its threads all end within its own span."""
    ends = {row.rank: row.elapsed_ms for row in rank_rows(run) if row.elapsed_ms is not None}
    for completion in run.completions:
        if completion.rank in ends:
            completion.elapsed_ms = ends[completion.rank]
