"""Reads the run record that vorlax, vorlax-read and vorlax-mpi write with
--json (docs/record.md) into the Run the log reader gives, with each
progress line's slowest block and the run's latency: what a tool draws or
tabulates from a log, it takes from a record alike."""

import json
from typing import Dict, List, Optional, Tuple

from vorlax_errors import json_reason
from vorlax_log import Completion, LogError, Run, Sample

RECORD_VERSIONS = (1,)


def looks_like_record(text: str) -> bool:
    """True for text that is a JSON object rather than a log."""
    return text.lstrip().startswith("{")


def samples_of(record_samples: List[list]) -> List[Sample]:
    """The progress lines' figures, with their rates as vorlax computes them:
    whole MB/s, truncated, an interval of 0 ms counted as 1 ms."""
    samples, prev_ms, prev_mb = [], 0, 0
    for seconds, mb, _ in record_samples:
        ms = int(round(seconds * 1000))
        samples.append(Sample(ms, mb, mb * 1000 // max(ms, 1), (mb - prev_mb) * 1000 // max(ms - prev_ms, 1)))
        prev_ms, prev_mb = ms, mb
    return samples


def run_of_record(record: Dict, source: str) -> Run:
    """The Run of a parsed record; raises LogError for one that is not a
    VORLAX record of a version this tool reads."""
    if not isinstance(record, dict) or record.get("record_version") not in RECORD_VERSIONS:
        raise LogError("%s: not a VORLAX run record of version %s (record_version %r)"
                       % (source, " or ".join(map(str, RECORD_VERSIONS)),
                          record.get("record_version") if isinstance(record, dict) else None))
    try:
        settings = record["settings"]
        ranks = record.get("ranks")
        run = Run(source, settings["mode"] == "B", int(settings["block_kb"]), int(settings["threads"]),
                  int(settings["file_gb"]), reading=record["program"] == "vorlax-read",
                  ranks=len(ranks) if ranks is not None else None,
                  hosts=len({rank["host"] for rank in ranks}) if ranks is not None else None)
        run.samples = samples_of(record["samples"])
        run.max_ms = [sample[2] for sample in record["samples"]]
        run.messages = record["notes"].splitlines()
        workers = [(None, t) for t in record.get("threads") or []] + [
            (rank["rank"], t) for rank in ranks or [] for t in rank["threads"]]
        run.messages += [worker["reason"] for _, worker in workers if worker["reason"]]
        # A record tells each worker's blocks, not when it ended: its completion stands at the last line.
        end_ms = run.samples[-1].elapsed_ms if run.samples else 0
        run.completions = [Completion(worker["index"], worker["blocks"], end_ms, rank) for rank, worker in workers
                           if worker["result"] != "not_started"]
        run.latency = record["latency"]
        run.stopped = record["stopped"]
        run.results = [(str(worker["result"]), worker["reason"]) for _, worker in workers]
        run.done = run.stopped in (None, "deadline")  # a run to its time limit ends as one to its end
    except (KeyError, TypeError, ValueError, AttributeError) as error:
        raise LogError("%s: not a whole VORLAX run record: %s %s" % (source, type(error).__name__, error)) from None
    return run


def run_of_text(text: str, source: str) -> Run:
    try:
        record = json.loads(text)
    except ValueError as error:
        raise LogError("%s: %s" % (source, json_reason(error))) from None
    return run_of_record(record, source)


def latency_of_file(path: str) -> Optional[dict]:
    """The "latency" of the record at path; None when there is no such
    file or it is not a record this tool reads."""
    try:
        with open(path) as text:
            return run_of_text(text.read(), path).latency
    except (OSError, LogError):
        return None


def slowest_block(run: Run, start_s: float, end_s: float) -> Optional[Tuple[float, float]]:
    """(ms, at_s) of the slowest block seen between start_s and end_s: a
    listed stall that lasted into that span, else the slowest of the
    progress lines that end there (at_s is then the line's time); None for
    a log or a span without timed blocks."""
    stalls = [(s["ms"], s["at_s"]) for s in ((run.latency or {}).get("stalls") or {}).get("longest", [])
              if s["at_s"] <= end_s and s["at_s"] + s["ms"] / 1000 >= start_s]
    lines = [(ms, sample.elapsed_s) for sample, ms in zip(run.samples, run.max_ms)
             if ms is not None and start_s < sample.elapsed_s <= end_s]
    found = stalls + lines
    return max(found, key=lambda one: one[0]) if found else None  # a stall first: it tells when


def attach_record(run: Run, path: str) -> None:
    """Gives run, read from a log, the slowest block of each progress line
    and the latency of the record the same run wrote to path (--json); a
    missing or unreadable record, or one of other lines, leaves it alone."""
    try:
        with open(path) as text:
            recorded = run_of_text(text.read(), path)
    except (OSError, LogError):
        return
    if len(recorded.samples) == len(run.samples):
        run.max_ms, run.latency = recorded.max_ms, recorded.latency


def name_slowest_blocks(dips, runs: List[Run]) -> None:
    """Sets each dip's slowest_ms and slowest_at_s (seconds on the chained
    time of runs, as vorlax_phases.chain counts it) to the slowest block
    that its span saw, where the runs have records; None elsewhere."""
    for dip in dips:
        found, offset_s = [], 0.0
        for run in runs:
            one = slowest_block(run, dip.start_s - offset_s, dip.start_s + dip.seconds - offset_s)
            if one:
                found.append((one[0], round(one[1] + offset_s, 3)))
            if run.samples:
                offset_s += run.samples[-1].elapsed_s
        best = max(found, key=lambda one: one[0]) if found else (None, None)
        dip.slowest_ms, dip.slowest_at_s = best
