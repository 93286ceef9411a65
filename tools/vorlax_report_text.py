"""The words and figures of a report: a run's headline, the settings and
the machine as rows, the notes, a sweep's latency columns, and how MB/s,
ms and GB are written. Plain text; the page escapes it."""

import shlex
import statistics
from typing import Dict, List, Optional, Tuple

from vorlax_log import OTHER, STOPS, worker_kind
from vorlax_report import Record

MODES = {"U": "unbuffered", "B": "buffered"}


def mb_s_text(value: Optional[float]) -> str:
    """"3,412 MB/s", cut to whole MB/s as vorlax prints them (3412.9 is
    3,412); "" for none."""
    return "" if value is None else "{:,d} MB/s".format(int(value))


def ms_text(value: Optional[float]) -> str:
    """As vorlax gives them: "0.613 ms", "9.81 ms", "10.9 ms", "1503 ms"."""
    if value is None:
        return ""
    return "%.*f ms" % (3 if value < 1 else 2 if value < 10 else 1 if value < 100 else 0, value)


def gb_text(value: Optional[float]) -> str:
    return "" if value is None else "{:,.{}f} GB".format(value, 2 if value < 0.95 else 1)


def plural(count: int, word: str) -> str:
    return "%d %s%s" % (count, word, "" if count == 1 else "s")


def _what(settings: Dict, threads_word: str = "thread") -> str:
    """"unbuffered 1024 KB × 2 threads"."""
    mode = MODES.get(settings.get("mode"), settings.get("mode") or "")
    block = settings.get("block_kb")
    threads = settings.get("threads")
    parts = [mode] if mode else []
    if block is not None:
        parts.append("%g KB" % block)
    if threads is not None:
        parts.append(("\u00d7 " if block is not None else "") + plural(int(threads), threads_word))
    return " ".join(parts)


def _where(fs_type, device, model) -> str:
    inside = ", ".join(str(part) for part in (device, model) if part)
    return " on %s%s" % (fs_type or "an unknown file system", " (%s)" % inside if inside else "")


def headline(record: Record) -> str:
    """One line of what was measured and the answer."""
    data = record.data
    if record.kind == "run":
        target = data.get("target") or {}
        what = _what(data.get("settings") or {})
        if data.get("ranks"):
            what += " on %s" % plural(len(data["ranks"]), "rank")
        verb = {"vorlax-read": "read back: ", "vorlax-mpi": "MPI: "}.get(data["program"], "")
        where = _where(target.get("file_system"), target.get("device"), target.get("model"))
        text = "%s%s%s: %s" % (verb, what, where, mb_s_text(run_mb_s(record)) or "no progress line")
        latency = data.get("latency") or {}
        if latency.get("median_ms") is not None:
            text += "; the median block %s, the slowest %s" % (ms_text(latency["median_ms"]),
                                                                 ms_text(latency.get("max_ms")))
        if data.get("stopped"):
            text += " (%s)" % STOPS.get(data["stopped"], "stopped at its time limit")
        if failure(record):
            text += " (failed: %s)" % failure(record)
        return text
    measured = data.get("measured") or {}
    where = _where(measured.get("fs_type"), measured.get("device"), measured.get("device_model"))
    if record.kind == "fill":
        text = "fill of %s%s, %s: %s written at %s on average" % (
            measured.get("folder", "?"), where, _what(data.get("settings") or {}), gb_text(data.get("total_gb")),
            mb_s_text(data.get("average_mb_s")))
        cliff = data.get("cliff")
        if cliff:
            text += "; the fast phase ended at %s (\u00b1 %s): %s before, %s after" % (
                gb_text(cliff["gb"]), gb_text(cliff["plus_minus_gb"]), mb_s_text(cliff["from_mb_s"]),
                mb_s_text(cliff["to_mb_s"]))
        return text
    best = max(data["cells"], key=lambda cell: cell.get("write_median_mbps") or 0, default=None)
    text = "sweep of %s%s: %s" % (measured.get("folder", "?"), where, plural(len(data["cells"]), "cell"))
    if data.get("partial"):
        text += " (partial: %s done)" % plural(int(data.get("runs_done") or 0), "run")
    if best and best.get("write_median_mbps") is not None:
        text += "; the fastest write %s at %s" % (mb_s_text(best["write_median_mbps"]), _what(best))
    return text


def failure(record: Record) -> str:
    """How a run failed: each worker that did, with its kind as the log
    reader names it, "thread 0, full disk after 267 blocks" ("rank 1
    thread 0" under vorlax-mpi; a line of no known kind without one), else
    "exit status 1" when the program said so; "" for a run that did not
    fail (a stop is none: a worker it left in its block neither), and for
    fills and sweeps."""
    data = record.data
    if record.kind != "run":
        return ""
    stopped = data.get("stopped") in STOPS
    threads = [("thread %s" % t.get("index"), t) for t in data.get("threads") or []]
    for number, rank in enumerate(data.get("ranks") or []):
        threads += [("rank %s thread %s" % (rank.get("rank", number), t.get("index")), t) for t in rank["threads"]]
    failed = []
    for name, t in threads:
        kind = worker_kind(str(t.get("result") or "completed"), t.get("reason"))
        if kind and not (stopped and t.get("result") == "running"):
            failed.append("%s%s after %s" % (name, ", " + kind if kind != OTHER else "",
                                             plural(int(t.get("blocks") or 0), "block")))
    if failed:
        return "; ".join(failed)
    return "exit status %d" % data["exit_status"] if data.get("exit_status") and not stopped else ""


def run_mb_s(record: Record) -> Optional[float]:
    """The run's MB/s: its record's, else its last sample's."""
    data = record.data
    if data.get("mb_s") is not None:
        return data["mb_s"]
    samples = data.get("samples") or []
    return samples[-1][1] / samples[-1][0] if samples and samples[-1][0] else None


def command_text(command) -> str:
    return command if isinstance(command, str) else " ".join(shlex.quote(str(word)) for word in command)


def settings_rows(record: Record) -> List[Tuple[str, str]]:
    """(name, value) of the settings and the machine, those the record has."""
    data = record.data
    rows: List[Tuple[str, object]] = []
    if record.kind == "run":
        rows += [("program", data.get("program")), ("version", data.get("version")),
                 ("command", command_text(data["command"]) if data.get("command") else None),
                 ("started", data.get("started"))]
        for part in ("settings", "target", "machine"):
            rows += sorted((data.get(part) or {}).items())
    else:
        rows += sorted((data.get("measured") or {}).items()) + sorted((data.get("settings") or {}).items())
        plan = data.get("plan") if isinstance(data.get("plan"), dict) else {}
        rows += [("command", command_text(plan["command"]) if isinstance(plan.get("command"), list) else None)]
        rows += sorted((key, ", ".join(str(v) for v in value) if isinstance(value, list) else value)
                       for key, value in plan.items() if key != "command" and not isinstance(value, dict))
    return [(name.replace("_", " "), value_text(value)) for name, value in rows if value is not None and value != ""]


def value_text(value) -> str:
    """A setting as text: a fraction with 4 figures, a large one whole."""
    if isinstance(value, float):
        return "{:,.0f}".format(value) if abs(value) >= 1000 else "{:.4g}".format(value)
    return str(value)


def notes_of(record: Record) -> List[str]:
    """The notes a record carries: a run's notes, a fill's or sweep's
    programs' messages (each once)."""
    data = record.data
    if record.kind == "run":
        notes = data.get("notes") or []
        return [line for line in (notes.splitlines() if isinstance(notes, str) else notes) if line]
    said: List[str] = []
    for run in data.get("runs") or []:
        for part in (run, run.get("write"), run.get("read")):
            for message in (part or {}).get("messages") or [] if isinstance(part, dict) else []:
                if isinstance(message, str) and message not in said:
                    said.append(message)
    return said


LATENCY_KEYS = ("median_ms", "p99_ms", "p99_9_ms", "max_ms")


def sweep_latency(record: Record) -> Tuple[List[str], List[Dict[str, float]]]:
    """The latency columns of a sweep's cells and each cell's figures: the
    cells' own "..._ms" figures where the sweep gives them, else the median
    over the cell's runs of each run's "latency" ("write_p99_ms")."""
    cells = record.data["cells"]
    keys = list(dict.fromkeys(key for cell in cells for key in cell
                              if key.endswith("_ms") and cell[key] is not None))
    if keys:
        return keys, [{key: cell.get(key) for key in keys} for cell in cells]
    values = []
    for cell in cells:
        runs = [run for run in record.data.get("runs") or [] if (run["mode"], run["block_kb"], run["threads"]) ==
                (cell["mode"], cell["block_kb"], cell["threads"])]
        figures = {}
        for kind in ("write", "read"):
            for key in LATENCY_KEYS:
                found = [((run.get(kind) or {}).get("latency") or {}).get(key) for run in runs]
                found = [value for value in found if isinstance(value, (int, float)) and not isinstance(value, bool)]
                if found:
                    figures["%s_%s" % (kind, key)] = statistics.median(found)
        values.append(figures)
    keys = ["%s_%s" % (kind, key) for kind in ("write", "read") for key in LATENCY_KEYS]
    return [key for key in keys if any(key in figures for figures in values)], values
