"""What a report is made of: the records read and checked (a `--json`
record of vorlax, vorlax-read or vorlax-mpi, a fill's fill.json, a sweep's
results.json) and the rates over time. Pure Python: nothing here draws
or writes."""

import json
import math
import os
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Sequence

from vorlax_errors import os_reason
from vorlax_log import ToolError

RUN_PROGRAMS = ("vorlax", "vorlax-read", "vorlax-mpi")
NUMBERS = (int, float)


class RecordError(ToolError):
    """A record that cannot be read or is not one the report knows."""
    exit_status = 2


@dataclass
class Rates:
    """A rate over time: at the end of each interval, its second, the GB
    done so far, its MB/s and its slowest block (None when not timed)."""
    seconds: List[float] = field(default_factory=list)
    gb: List[float] = field(default_factory=list)
    mb_s: List[float] = field(default_factory=list)
    max_ms: List[Optional[float]] = field(default_factory=list)


@dataclass
class Record:
    kind: str              # "run", "fill" or "sweep"
    path: str
    data: Dict[str, object]
    rates: Rates           # empty for a sweep
    read_rates: Rates = field(default_factory=Rates)   # a fill's read-back
    shown_as: str = ""     # its name on the page where its file's name is not enough

    @property
    def name(self) -> str:
        return self.shown_as or os.path.basename(self.path)


def _reject_constant(text: str):
    raise ValueError("%s is not a number JSON allows" % text)


def parse_text(text: str, path: str) -> Record:
    """The Record in a file's text; RecordError naming the file and the
    first thing wrong (not JSON, truncated, a key missing or of the wrong
    type, NaN)."""
    try:
        data = json.loads(text, parse_constant=_reject_constant)
    except ValueError as error:
        raise RecordError("%s: not a whole JSON record (%s); is it a --json record, fill.json or results.json?"
                          % (path, error))
    if not isinstance(data, dict):
        raise RecordError("%s: a record is a JSON object, this is a %s" % (path, type(data).__name__))
    if data.get("program") in RUN_PROGRAMS:
        kind = "run"
    elif isinstance(data.get("cells"), list) and "runs" in data:
        kind = "sweep"
    elif "samples" in data and "planned_gb" in (data.get("settings") or {}):
        kind = "fill"
    else:
        raise RecordError("%s: not a record of vorlax, vorlax-read, vorlax-mpi, vorlax-fill or vorlax-sweep"
                          % path)
    try:
        CHECKS[kind](data)
        rates = Rates() if kind == "sweep" else rates_of(data["samples"])
        read_rates = rates_of(data.get("read_samples") or []) if kind == "fill" else Rates()
    except RecordError as error:
        raise RecordError("%s: %s" % (path, error))
    return Record(kind, path, data, rates, read_rates)


def load(path: str) -> Record:
    """The Record in the file at path (UTF-8, with or without a byte-order
    mark); RecordError naming the file and what is wrong."""
    try:
        with open(path, "rb") as source:
            raw = source.read()
    except OSError as error:
        raise RecordError("%s: cannot read it: %s" % (path, os_reason(error)))
    if not raw.strip():
        raise RecordError("%s: the file is empty; is it the record a run was still writing?" % path)
    try:
        text = raw.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        raise RecordError("%s: not a text file (byte %d is not UTF-8); is it a --json record, fill.json or "
                          "results.json?" % (path, error.start))
    return parse_text(text, path)


def _is_number(value) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def _is_amount(value) -> bool:
    """A number a record may hold: finite and not negative (MB, seconds,
    counts, sizes and statuses all are)."""
    return _is_number(value) and value >= 0


def need(data, key, kinds, where, optional=True):
    """data[key] when it has one of kinds ("number", "text", "list",
    "object"); None when absent or null and optional; RecordError otherwise."""
    value = data.get(key) if isinstance(data, dict) else None
    if value is None:
        if optional:
            return None
        raise RecordError("%s%s is missing" % (where, key))
    if _is_number(value) and "number" in kinds and not _is_amount(value):
        raise RecordError("%s%s is negative (%g)" % (where, key, value))
    tests = {"number": _is_number, "text": lambda v: isinstance(v, str), "list": lambda v: isinstance(v, list),
             "object": lambda v: isinstance(v, dict), "bool": lambda v: isinstance(v, bool)}
    if not any(tests[kind](value) for kind in kinds.split("|")):
        raise RecordError("%s%s is not a %s" % (where, key, kinds.replace("|", " or ")))
    return value


def _check_each(items, where, fields: Dict[str, str]) -> None:
    """Each of items is an object whose keys have their kinds; a kind
    ending in "!" is required."""
    for number, item in enumerate(items or []):
        if not isinstance(item, dict):
            raise RecordError("%s[%d] is not an object" % (where, number))
        for key, kinds in fields.items():
            need(item, key, kinds.rstrip("!"), "%s[%d]." % (where, number), optional=not kinds.endswith("!"))


# The keys every run record has (docs/record.schema.json's required ones);
# only mb_s and stopped may be null.
RUN_KEYS = ("record_version", "program", "version", "command", "started", "settings", "machine", "target", "notes",
            "samples", "total_mb", "seconds", "mb_s", "exit_status", "stopped", "latency")


def _check_run(data) -> None:
    missing = [key for key in RUN_KEYS if key not in data or (data[key] is None and key not in ("mb_s", "stopped"))]
    if missing:
        raise RecordError("%s is missing; a run's record has %s" % (missing[0], ", ".join(RUN_KEYS)))
    for key, kinds in (("version", "text"), ("started", "text"), ("command", "list|text"), ("notes", "text|list"),
                       ("total_mb", "number"), ("seconds", "number"), ("mb_s", "number"), ("stopped", "text"),
                       ("exit_status", "number")):
        need(data, key, kinds, "")
    for key in ("settings", "machine", "target"):
        part = need(data, key, "object", "") or {}
        for name, value in part.items():
            need(part, name, "text|number|bool", key + ".")
    _check_each(need(data, "threads", "list", ""), "threads",
                {"index": "number", "blocks": "number", "mb": "number", "result": "text|number", "reason": "text"})
    _check_each(need(data, "ranks", "list", ""), "ranks", {"host": "text", "threads": "list!"})
    for rank, item in enumerate(data.get("ranks") or []):
        _check_each(item["threads"], "ranks[%d].threads" % rank, {"index": "number", "mb": "number"})
    latency = need(data, "latency", "object", "") or {}
    for key in ("blocks", "min_ms", "median_ms", "p90_ms", "p99_ms", "p99_9_ms", "max_ms", "max_at_s",
                "max_thread", "max_block"):
        need(latency, key, "number", "latency.")
    stalls = need(latency, "stalls", "object", "latency.") or {}
    need(stalls, "count", "number", "latency.stalls.")
    need(stalls, "total_s", "number", "latency.stalls.")
    _check_each(need(stalls, "longest", "list", "latency.stalls."), "latency.stalls.longest",
                {"at_s": "number!", "ms": "number!", "thread": "number!"})
    need(data, "samples", "list", "", optional=False)


def _check_fill(data) -> None:
    for key in ("measured", "settings"):
        part = need(data, key, "object", "") or {}
        for name, value in part.items():
            need(part, name, "text|number|bool", key + ".")
    for key in ("total_gb", "total_s", "average_mb_s", "median_mb_s"):
        need(data, key, "number", "")
    need(data, "read", "text", "")
    _check_each(need(data, "phases", "list", ""), "phases",
                {key: "number!" for key in ("start_gb", "end_gb", "start_s", "end_s", "mb_s")})
    cliff = need(data, "cliff", "object", "")
    for key in ("gb", "plus_minus_gb", "from_mb_s", "to_mb_s"):
        need(cliff or {}, key, "number", "cliff.", optional=cliff is None)
    _check_each(need(data, "dips", "list", ""), "dips",
                {"start_gb": "number!", "start_s": "number!", "seconds": "number!", "mb_s": "number!"})
    _check_each(need(data, "runs", "list", ""), "runs", {"write": "text", "exit_status": "number"})
    need(data, "read_samples", "list", "")


def _check_sweep(data) -> None:
    measured = need(data, "measured", "object", "") or {}
    for name in measured:
        need(measured, name, "text|number|bool", "measured.")
    cell_keys = {"mode": "text!", "block_kb": "number!", "threads": "number!", "size_gb": "number", "runs": "number"}
    cell_keys.update({"%s_%s" % (kind, key): "number" for kind in ("write", "read")
                      for key in ("median_mbps", "best_mbps", "spread_pct")})
    _check_each(data["cells"], "cells", cell_keys)
    for number, cell in enumerate(data["cells"]):
        for key in cell:
            if key.endswith("_ms"):
                need(cell, key, "number", "cells[%d]." % number)
    _check_each(need(data, "runs", "list", ""), "runs", {"mode": "text!", "block_kb": "number!", "threads": "number!",
                                                          "size_gb": "number", "write": "object", "read": "object"})
    for number, run in enumerate(data.get("runs") or []):
        for kind in ("write", "read"):
            if run.get(kind):
                need(run[kind], "sustained_mbps", "number", "runs[%d].%s." % (number, kind))


CHECKS = {"run": _check_run, "fill": _check_fill, "sweep": _check_sweep}


DIP_SLOWEST = (("slowest_ms",), ("slowest_block_ms",), ("max_ms",), ("slowest", "ms"), ("slowest_block", "ms"))


def dip_slowest_ms(dip: Dict) -> Optional[float]:
    """A fill's dip's slowest block in ms, under the names a fill may give
    it; None when it has none (runs not timed) or it is not a number."""
    for path in DIP_SLOWEST:
        value = dip
        for key in path:
            value = value.get(key) if isinstance(value, dict) else None
        if _is_number(value):
            return float(value)
    return None


def rates_of(samples: Sequence) -> Rates:
    """The rate of each interval between cumulative samples [seconds, MB
    (, slowest block ms)], the first from 0 s and 0 MB; samples no later
    than the one before are left out."""
    rates = Rates()
    last_s = last_mb = 0.0
    for number, sample in enumerate(samples):
        try:
            seconds, mb = float(sample[0]), float(sample[1])
            slowest = sample[2] if len(sample) > 2 else None
            if type(sample) is not list or type(sample[0]) not in NUMBERS or type(sample[1]) not in NUMBERS or not (
                    _is_amount(seconds) and _is_amount(mb)) or not (slowest is None or _is_amount(slowest)):
                raise ValueError
        except (TypeError, ValueError, IndexError, KeyError):
            raise RecordError("samples[%d] is not [seconds, MB(, slowest ms)]" % number)
        if seconds <= last_s:
            continue
        rates.seconds.append(seconds)
        rates.gb.append(mb / 1024.0)
        rates.mb_s.append((mb - last_mb) / (seconds - last_s))
        rates.max_ms.append(None if slowest is None else float(slowest))
        last_s, last_mb = seconds, mb
    return _join_short_end(rates)


SHORT_END = 0.25   # a last interval under this share of the one before is joined to it


def _join_short_end(rates: Rates) -> Rates:
    """rates with a last interval under SHORT_END of the one before (the
    few ms in which the threads ended after the last whole second) joined to
    that one: its MB/s over both, its slowest block the slower of the two."""
    seconds = [0.0] + rates.seconds
    if len(rates.seconds) < 2 or seconds[-1] - seconds[-2] >= SHORT_END * (seconds[-2] - seconds[-3]):
        return rates
    gb_before = rates.gb[-3] if len(rates.gb) > 2 else 0.0
    slowest = [value for value in rates.max_ms[-2:] if value is not None]
    del rates.seconds[-2], rates.gb[-2], rates.mb_s[-1], rates.max_ms[-2]
    rates.mb_s[-1] = (rates.gb[-1] - gb_before) * 1024.0 / (seconds[-1] - seconds[-3])
    rates.max_ms[-1] = max(slowest) if slowest else None
    return rates
