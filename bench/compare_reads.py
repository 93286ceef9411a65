"""The read cells of bench/compare: vorlax-read beside fio --rw=read (psync,
the same block size, threads and direct flag) on the files vorlax has just
written, and vorlax-read built without its block check (the "unchecked" row,
in the 1024 KB cells) to measure the check's cost.

Each read cell writes its files once with vorlax (untimed), then runs the
readers in turn on them, with a sync before each run; the files go at the
end of the cell. Both readers drop the files' cached pages first (vorlax-read
by design, fio by its default invalidate=1), so mode B on a disk reads from
the device; on tmpfs nothing can be dropped and both read memory.
"""
import json
import os
import re

MIB = 1 << 20

READ_TOOLS = ["vorlax-read", "fio-read"]


def plan_read_cells(args, with_unchecked):
    """One cell per target, mode, block and thread count of args.read_blocks;
    the unchecked build joins the 1024 KB cells when with_unchecked."""
    cells = []
    for target in args.targets:
        for mode in args.modes:
            for block_kb in args.read_blocks:
                for threads in args.threads:
                    tools = list(READ_TOOLS)
                    if block_kb == 1024 and with_unchecked:
                        tools.append("unchecked")
                    cells.append({"target": target, "mode": mode, "block_kb": block_kb, "threads": threads,
                                  "tools": tools, "runs": args.runs, "slow": False, "read": True})
    return cells


def read_command(tool, cell, folder, binaries):
    """The command line of a reader for cell, on the files vorlax wrote as folder/vx_NN.BIN."""
    mode, block_kb, threads = cell["mode"], cell["block_kb"], cell["threads"]
    if tool in ("vorlax-read", "unchecked"):
        return [binaries[tool], mode, os.path.join(folder, "vx"), str(block_kb), str(threads), "1"]
    if tool == "fio-read":
        # One job per file, each reading a whole file of vorlax's from its start.
        command = ["fio", "--ioengine=psync", "--rw=read", "--bs=%dk" % block_kb, "--size=1g",
                   "--direct=" + ("1" if mode == "U" else "0"), "--group_reporting", "--output-format=json"]
        for index in range(threads):
            command += ["--name=r%d" % index, "--filename=" + os.path.join(folder, "vx_%02d.BIN" % index)]
        return command
    raise ValueError(tool)


def write_command(cell, folder, binaries):
    """vorlax writing the files that the readers of cell read."""
    return [binaries["vorlax"], cell["mode"], os.path.join(folder, "vx"), str(cell["block_kb"]),
            str(cell["threads"]), "1"]


def reported_read_mib_s(tool, out):
    """Read throughput in MiB/s as the reader reports it, or None."""
    if tool == "fio-read":
        start = out.find("{")
        if start < 0:
            return None
        return sum(job["read"]["bw_bytes"] for job in json.loads(out[start:])["jobs"]) / MIB
    rates = re.findall(r"(\d+) MB/s sustained", out)
    return float(rates[-1]) if rates else None


READ_TITLE = ("Reads: each cell's files written once by vorlax, then read back by each reader in turn "
              "(a sync before each run); *unchecked*: vorlax-read built without its block check "
              "(cmake -DVORLAX_BENCH_UNCHECKED=ON); ratios are vorlax-read / peer.")
