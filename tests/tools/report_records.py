"""Records for the report's tests, its browser stage and its benchmark:
a run's --json record as the record's documented keys give it, a fill.json
from the fill's own analysis of a made-up series and its document code,
and a results.json from the sweep's. `report_records.py DIR` writes them
into DIR (run.json, run-b.json, mpi.json, fill.json, fill-10h.json,
results.json)."""

import json
import os
import random
import sys

import support  # noqa: F401  (puts tools/ on the path)
import vorlax_results
from vorlax_log import Sample
from vorlax_machine import Measured
from vorlax_phases import analyse
from vorlax_runner import Pass, Settings
from vorlax_sweep import Result

MODEL = "Disk <script>alert(1)</script> & Co"
MEASURED = Measured("/mnt/test", "ext4", "/dev/vdb1", MODEL, "2026-12-07 08:10:00 +0000", "vorlax (VORLAX) 1.4.0",
                    2, 24000, "vorlax-read")


def run_record(mb_s=500.0, seconds=30, stall_at_s=12, program="vorlax", model=MODEL, seed=1, block_kb=1024):
    """A run at about mb_s with a little noise and, at stall_at_s (None:
    none), a second whose slowest block took 1.5 s."""
    rng = random.Random(seed)
    samples, total = [], 0.0
    for second in range(1, seconds + 1):
        stalled = second == stall_at_s
        total += (mb_s * 0.2 if stalled else mb_s * rng.uniform(0.97, 1.03))
        samples.append([second + 0.001 * rng.randint(0, 9), round(total), 1503.0 if stalled else
                        round(rng.uniform(2.5, 4.0), 2)])
    stalls = [{"at_s": stall_at_s - 1.5, "ms": 1503.0, "thread": 0, "block": 300}] if stall_at_s else []
    threads = [{"index": n, "result": "completed", "blocks": int(total / 2), "mb": round(total / 2), "reason": None}
               for n in range(2)]
    record = {
        "record_version": 1, "program": program, "version": "1.4.0",
        "command": [program, "--json", "r.json", "U", "/mnt/test/t", str(block_kb), "2", "8"],
        "started": "2026-12-07T08:10:00Z",
        "settings": {"mode": "U", "path_prefix": "/mnt/test/t", "block_kb": block_kb, "threads": 2, "file_gb": 8,
                     "stall_ms": 100},
        "machine": {"system": "Linux", "kernel": "6.1.0-28-amd64", "cpu": "Intel(R) Xeon(R) <b>CPU</b>", "cores": 2,
                    "memory_mb": 24000},
        "target": {"file_system": "ext4", "device": "/dev/vdb1", "model": model, "free_mb": 90000},
        "notes": "vorlax: note: /mnt/test/t <is> on a disk & said so\n",
        "samples": samples, "threads": threads, "total_mb": round(total), "seconds": samples[-1][0],
        "mb_s": round(total / samples[-1][0]), "exit_status": 0, "stopped": None,
        "latency": {"blocks": int(total), "min_ms": 0.41, "median_ms": 3.2, "p90_ms": 3.9, "p99_ms": 5.1,
                    "p99_9_ms": 31.2, "max_ms": 1503.0 if stall_at_s else 4.0,
                    "max_at_s": stall_at_s - 1.5 if stall_at_s else 1.0, "max_thread": 0, "max_block": 300,
                    "histogram": [[0.5, 10], [3.3, 1000], [1510.0, 1]],
                    "stalls": {"threshold_ms": 100, "count": len(stalls), "total_s": 1.5 if stalls else 0.0,
                               "longest": stalls}}}
    if program == "vorlax-mpi":
        record["ranks"] = [{"rank": n, "host": "node%d" % n, "mb": round(total), "threads": threads} for n in range(2)]
        del record["threads"]
    return record


def fill_document(hours=0.05, fast_mb_s=900.0, slow_mb_s=300.0, seed=2):
    """A fill of hours at one sample a second: fast for its first third,
    then slow, with a dip of 3 s at two thirds; analysed by the fill's own
    code."""
    rng = random.Random(seed)
    count = int(hours * 3600)
    seconds, total_mb, total = [], [], 0.0
    for n in range(1, count + 1):
        rate = fast_mb_s if n < count / 3 else slow_mb_s
        if 2 * count // 3 <= n < 2 * count // 3 + 3:
            rate = slow_mb_s * 0.1
        total += rate * rng.uniform(0.95, 1.05)
        seconds.append(float(n))
        total_mb.append(round(total, 1))
    import numpy
    analysis = analyse(numpy.array(seconds), numpy.array(total_mb)).as_dict()
    for dip in analysis["dips"]:
        dip.update({"slowest_ms": 1412.0, "slowest_at_s": dip["start_s"] + 1.0})
    document = {"measured": MEASURED.as_dict(),
                "settings": {"mode": "U", "block_kb": 1024, "threads": 1, "planned_gb": int(total / 1024) + 1,
                             "planned_runs": 1, "free_gb": 100.0, "margin_gb": 2.0},
                "finished": True, "stopped": None, "wall_s": seconds[-1] + 3.0,
                "runs": [{"prefix": "vorlax-fill-1", "size_gb": int(total / 1024) + 1, "write": "ok",
                          "exit_status": 0, "mb": total, "elapsed_s": seconds[-1],
                          "messages": ["vorlax: note: <b>not bold</b>"],
                          "read": {"verdict": "pass", "exit_status": 0, "mb": total, "elapsed_s": seconds[-1],
                                   "messages": []}}],
                "samples": [[s, mb] for s, mb in zip(seconds, total_mb)],
                "read_samples": [[s, mb * 1.2] for s, mb in zip(seconds, total_mb)][::2],
                "read": "every byte read back and checked: pass (1 run)"}
    document.update(analysis)
    return document


def sweep_document(scale=1.0):
    """A sweep of 2 block sizes x 2 thread counts, 3 repeats each, written and read."""
    results = []
    for block_kb in (64, 1024):
        for threads in (1, 2):
            settings = Settings("U", block_kb, threads, 1)
            for repeat, wobble in ((1, 0.96), (2, 1.0), (3, 1.04)):
                mb_s = int(scale * wobble * (200 + block_kb // 4) * threads)
                final = Sample(2000, 2048 * threads, mb_s, mb_s)
                results.append(Result(settings, repeat, Pass(0, final, "/o/logs/w.log", ["vorlax: note: <i>x</i>"]),
                                      Pass(0, Sample(1000, 2048 * threads, mb_s * 2, mb_s * 2), "/o/logs/r.log")))
    return vorlax_results.json_document(results, MEASURED, "/o")


def write_all(folder):
    """Writes the records above into folder; returns their paths by name."""
    documents = {"run.json": run_record(), "run-b.json": run_record(mb_s=650.0, stall_at_s=None, seed=3, block_kb=64),
                 "read.json": run_record(program="vorlax-read", stall_at_s=None),
                 "mpi.json": run_record(program="vorlax-mpi"), "fill.json": fill_document(),
                 "fill-10h.json": fill_document(hours=10), "results.json": sweep_document(),
                 "results-b.json": sweep_document(scale=1.3)}
    paths = {}
    for name, document in documents.items():
        paths[name] = os.path.join(folder, name)
        with open(paths[name], "w") as out:
            json.dump(document, out, indent=1)
    return paths


if __name__ == "__main__":
    for path in write_all(sys.argv[1]).values():
        print(path)
