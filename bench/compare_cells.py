"""The cells of bench/compare and the command lines its tools run in them.

A write cell runs vorlax, fio (psync), dd (one thread only) and, in the
unbuffered 1024 KB cells, the device limit (fio libaio, queue depth 32,
direct, 1 MiB) on freshly deleted files. A read cell puts vorlax-read beside
fio --rw=read (psync, the same block size, threads and direct flag) on the
files vorlax has just written, and, in the 1024 KB cells, vorlax-read built
without its block check ("unchecked") to measure the check's cost. Both
readers drop the files' cached pages first (vorlax-read by design, fio by its
default invalidate=1), so mode B on a disk reads from the device; on tmpfs
nothing can be dropped and both read memory.
"""
import json
import os
import re
import sys
from dataclasses import dataclass
from typing import List, Optional

sys.path.insert(0, os.path.join(os.path.dirname(os.path.realpath(__file__)), "..", "tools"))
from vorlax_log import LogError, parse_text  # noqa: E402

MIB = 1 << 20
GIB = 1 << 30


@dataclass
class Cell:
    """One target, mode, block size and thread count, and the tools run there."""
    target: str
    mode: str           # "B" or "U"
    block_kb: int
    threads: int
    tools: List[str]    # the first is ours; the others are its peers
    runs: int
    reading: bool = False
    slow: bool = False  # unbuffered blocks under 64 KB on a disk


def plan_cells(targets, modes, blocks_kb, threads, runs, reading=False, slow_runs=0, is_memory=None,
               with_unchecked=False):
    """One cell per target, mode, block size and thread count, write cells
    or read cells. A write cell on a disk (is_memory(target) false) with
    unbuffered blocks under 64 KB is slow and runs slow_runs times when that
    is set; the slow cells come last, so a run cut short holds the others."""
    cells = []
    for target in targets:
        for mode in modes:
            for block_kb in blocks_kb:
                for count in threads:
                    if reading:
                        tools = ["vorlax-read", "fio-read"] + (["unchecked"] if block_kb == 1024 and with_unchecked
                                                               else [])
                        cells.append(Cell(target, mode, block_kb, count, tools, runs, reading=True))
                        continue
                    tools = ["vorlax", "fio"] + (["dd"] if count == 1 else [])
                    tools += ["limit"] if mode == "U" and block_kb == 1024 else []
                    slow = mode == "U" and block_kb < 64 and not is_memory(target)
                    cells.append(Cell(target, mode, block_kb, count, tools,
                                      slow_runs if slow and slow_runs else runs, slow=slow))
    return sorted(cells, key=lambda cell: cell.slow)


# ---- Command lines -------------------------------------------------------------

def vorlax_command(binary, cell, folder):
    """vorlax, vorlax-read or the unchecked reader on folder/vx_NN.BIN, 1 GiB each."""
    return [binary, cell.mode, os.path.join(folder, "vx"), str(cell.block_kb), str(cell.threads), "1"]


def fio_command(cell, folder, rw="write", limit=False):
    """fio with its JSON report. A write: one job per thread, each creating
    its own file anew (no preallocation), like vorlax; with limit the
    device's own limit instead: threads GiB in one job, libaio, queue depth
    32, direct, 1 MiB blocks. A read (rw "read"): one job per file of
    vorlax's, each read whole from its start."""
    if limit:
        options = ["--ioengine=libaio", "--iodepth=32", "--bs=1m", "--direct=1"]
    else:
        options = ["--ioengine=psync", "--bs=%dk" % cell.block_kb, "--direct=" + ("1" if cell.mode == "U" else "0")]
    options += ["--rw=" + rw, "--group_reporting", "--output-format=json"]
    if rw == "read":
        files = [["--name=r%d" % index, "--filename=" + os.path.join(folder, "vx_%02d.BIN" % index)]
                 for index in range(cell.threads)]
        return ["fio"] + options + ["--size=1g"] + [word for job in files for word in job]
    size_gib, jobs = (cell.threads, 1) if limit else (1, cell.threads)
    return ["fio", "--name=" + ("limit" if limit else "fio"), "--directory=" + folder] + options + \
        ["--size=%dg" % size_gib, "--numjobs=%d" % jobs, "--fallocate=none"]


def tool_command(tool, cell, folder, binaries):
    """The command line of tool for cell in folder; binaries: the paths of
    vorlax, vorlax-read and unchecked."""
    if tool in ("vorlax", "vorlax-read", "unchecked"):
        return vorlax_command(binaries[tool], cell, folder)
    if tool == "fio":
        return fio_command(cell, folder)
    if tool == "fio-read":
        return fio_command(cell, folder, rw="read")
    if tool == "limit":
        return fio_command(cell, folder, limit=True)
    if tool == "dd":
        return ["dd", "if=/dev/zero", "of=" + os.path.join(folder, "dd.BIN"), "bs=%dK" % cell.block_kb,
                "count=%d" % (GIB // (cell.block_kb * 1024)), "iflag=fullblock"] + \
               (["oflag=direct"] if cell.mode == "U" else [])
    raise ValueError(tool)


# ---- What the tools report -----------------------------------------------------

def sustained_mib_s(out) -> Optional[float]:
    """The sustained rate of the last progress line of vorlax's, vorlax-read's
    or vorlax-mpi's output; None when it has none or is not such output."""
    try:
        runs = parse_text(out)
    except LogError:
        return None
    return float(runs[-1].final().sustained_mbps) if runs and runs[-1].samples else None


def fio_mib_s(out, direction) -> Optional[float]:
    """The bandwidth of all of fio's jobs in direction ("write", "read")."""
    start = out.find("{")
    if start < 0:
        return None
    return sum(job[direction]["bw_bytes"] for job in json.loads(out[start:])["jobs"]) / MIB


def dd_mib_s(err) -> Optional[float]:
    """The bytes dd copied over its own seconds."""
    match = re.search(r"^(\d+) bytes .* copied, ([\d.]+) s", err, re.M)
    if not match or float(match.group(2)) == 0:
        return None
    return int(match.group(1)) / float(match.group(2)) / MIB


def reported_mib_s(tool, out, err) -> Optional[float]:
    """Throughput in MiB/s as the tool itself reports it, or None."""
    if tool in ("vorlax", "vorlax-read", "unchecked"):
        return sustained_mib_s(out)
    if tool in ("fio", "limit", "fio-read"):
        return fio_mib_s(out, "read" if tool == "fio-read" else "write")
    return dd_mib_s(err)
