"""The words and figures of a report: a run's headline, the settings and
the machine as rows, the figures of records of one kind side by side with
their ratios and verdicts, and the settings in which they differ. Plain
text; the page escapes it."""

import shlex
import statistics
from typing import Dict, List, Optional, Sequence, Tuple

from vorlax_report import Record, phase_spread, rates_spread, relative_spread, verdict, whole_rates

MODES = {"U": "unbuffered", "B": "buffered"}


def mb_s_text(value: Optional[float]) -> str:
    """"3,412 MB/s"; "" for none."""
    return "" if value is None else "{:,.0f} MB/s".format(value)


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
            text += " (stopped: %s)" % data["stopped"]
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


DIFFERING = {"run": [("program", ("program",)), ("version", ("version",)), ("mode", ("settings", "mode")),
                     ("block KB", ("settings", "block_kb")), ("threads", ("settings", "threads")),
                     ("GB each", ("settings", "file_gb")), ("file system", ("target", "file_system")),
                     ("device", ("target", "device")), ("model", ("target", "model")),
                     ("kernel", ("machine", "kernel")), ("CPU", ("machine", "cpu"))],
             "fill": [("version", ("measured", "vorlax_version")), ("mode", ("settings", "mode")),
                      ("block KB", ("settings", "block_kb")), ("threads", ("settings", "threads")),
                      ("file system", ("measured", "fs_type")), ("device", ("measured", "device")),
                      ("model", ("measured", "device_model"))]}
DIFFERING["sweep"] = [row for row in DIFFERING["fill"] if row[1][0] == "measured"]


def _value(data: Dict, path: Sequence[str]):
    for key in path:
        data = data.get(key) if isinstance(data, dict) else None
    return data


def differing(records: Sequence[Record]) -> List[Tuple[str, List[str]]]:
    """(name, the value of each record) of the settings that differ."""
    rows = []
    for name, path in DIFFERING[records[0].kind]:
        values = ["" if _value(r.data, path) is None else str(_value(r.data, path)) for r in records]
        if len(set(values)) > 1:
            rows.append((name, values))
    return rows


# A figure: (name, value, its spread as a share or None, higher is better, text of a value).
Figure = Tuple[str, Optional[float], Optional[float], bool, object]


BLOCK_TIMES = (("median block", "median_ms"), ("99 % of blocks", "p99_ms"), ("99.9 % of blocks", "p99_9_ms"),
               ("slowest block", "max_ms"))


def figures(record: Record) -> List[Figure]:
    data, rates = record.data, record.rates
    if record.kind == "run":
        spread = rates_spread(whole_rates(rates))
        latency = data.get("latency") or {}
        rows = [("MB/s", run_mb_s(record), spread, True, mb_s_text),
                ("median MB/s of the seconds", statistics.median(rates.mb_s) if rates.mb_s else None, spread, True,
                 mb_s_text)]
        rows += [(name, latency.get(key), spread, False, ms_text) for name, key in BLOCK_TIMES]
        return rows
    spread = phase_spread(rates, data.get("phases") or [])
    cliff = data.get("cliff") or {}
    return [("average MB/s", data.get("average_mb_s"), spread, True, mb_s_text),
            ("median MB/s", data.get("median_mb_s"), spread, True, mb_s_text),
            ("fast phase MB/s", cliff.get("from_mb_s"), spread, True, mb_s_text),
            ("MB/s after the cliff", cliff.get("to_mb_s"), spread, True, mb_s_text)]


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


def _sweep_figures(record: Record) -> Dict[str, Figure]:
    """Per cell and pass, "U 1024K x2 write": its median and the spread of
    its repeats (their worst to best)."""
    repeats: Dict[Tuple, List[float]] = {}
    for run in record.data.get("runs") or []:
        for kind in ("write", "read"):
            figure = (run.get(kind) or {}).get("sustained_mbps")
            if figure is not None:
                repeats.setdefault((run["mode"], run["block_kb"], run["threads"], kind), []).append(figure)
    out = {}
    for cell in record.data["cells"]:
        for kind in ("write", "read"):
            key = (cell["mode"], cell["block_kb"], cell["threads"], kind)
            name = "%s %gK x%d %s" % key
            spread = relative_spread(repeats.get(key, []))
            if spread is None and cell.get(kind + "_spread_pct") is not None:
                spread = cell[kind + "_spread_pct"] / 100.0
            if cell.get(kind + "_median_mbps") is not None:
                out[name] = (name, cell[kind + "_median_mbps"], spread, True, mb_s_text)
    return out


def apart(base: Record, other: Record, block_time: bool) -> str:
    """Why a figure of two runs is not compared, "" where it is: a read is
    not a write; and a block's time only compares at one block size and
    mode (a 64 KB block takes less time than a 1024 KB one at any speed)."""
    if base.kind != "run":
        return ""
    if (base.data["program"] == "vorlax-read") != (other.data["program"] == "vorlax-read"):
        return "a read against a write"
    if not block_time:
        return ""
    settings = [(record.data.get("settings") or {}) for record in (other, base)]
    modes, blocks = [[s.get(key) for s in settings] for key in ("mode", "block_kb")]
    if None not in modes and modes[0] != modes[1]:
        return "%s against %s" % tuple(MODES.get(mode, mode) for mode in modes)
    if None not in blocks and blocks[0] != blocks[1]:
        return "block sizes differ (%g KB against %g KB)" % tuple(blocks)
    return ""


def comparison(records: Sequence[Record]) -> List[Tuple[str, List[str], List[str]]]:
    """Per figure: its name, its text in each record, and for each record
    after the first its ratio to the first and the verdict ("1.20 ×
    faster"). Figures no record has are left out."""
    if records[0].kind == "sweep":
        tables = [_sweep_figures(record) for record in records]
        names = [name for name in tables[0] if all(name in table for table in tables[1:])]
        rows = [[table[name] for table in tables] for name in names]
    else:
        rows = [list(row) for row in zip(*(figures(record) for record in records))]
    out = []
    for row in rows:
        base = row[0]
        if all(figure[1] is None for figure in row):
            continue
        texts = [figure[4](figure[1]) for figure in row]
        verdicts = []
        for record, figure in zip(records[1:], row[1:]):
            reason = apart(records[0], record, base[0] in dict(BLOCK_TIMES))
            if base[1] is None or figure[1] is None or reason:
                verdicts.append(reason and "not compared: " + reason)
                continue
            ratio = "%.3g \u00d7" % (figure[1] / base[1]) if base[1] else ""
            verdicts.append("%s %s" % (ratio, verdict(base[1], figure[1], base[2], figure[2], base[3])))
        out.append((base[0], texts, verdicts))
    if records[0].kind == "fill":
        out.append(_cliff_row(records))
    return out


def _cliff_row(records: Sequence[Record]) -> Tuple[str, List[str], List[str]]:
    """Where the fast phase ended: "later" or "earlier" only beyond the
    larger of the two cliffs' ±."""
    cliffs = [r.data.get("cliff") for r in records]
    texts = ["%s \u00b1 %s" % (gb_text(c["gb"]), gb_text(c["plus_minus_gb"])) if c else "none" for c in cliffs]
    verdicts = []
    for cliff in cliffs[1:]:
        base = cliffs[0]
        if not base or not cliff:
            verdicts.append("")
        elif abs(cliff["gb"] - base["gb"]) <= max(cliff["plus_minus_gb"], base["plus_minus_gb"]):
            verdicts.append("within the noise")
        else:
            verdicts.append("later" if cliff["gb"] > base["gb"] else "earlier")
    return ("the fast phase ended at", texts, verdicts)
