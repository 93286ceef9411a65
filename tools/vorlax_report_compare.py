"""Records of one kind compared: the settings in which they differ, each
figure side by side with its ratio to the first record's and a verdict
against the records' own spreads (of their repeats, else of their
per-second rates), and why a figure is not compared where the records are
not alike. Plain text; the page escapes it."""

import statistics
from typing import Dict, List, Optional, Sequence, Tuple

from vorlax_report import Rates, Record
from vorlax_report_text import MODES, failure, gb_text, mb_s_text, ms_text, run_mb_s


def relative_spread(values: Sequence[float]) -> Optional[float]:
    """(best - worst) / median of repeats, as a share; None under two."""
    if len(values) < 2 or not statistics.median(values):
        return None
    return (max(values) - min(values)) / statistics.median(values)


def whole_rates(rates: Rates) -> List[float]:
    """The MB/s of the whole intervals: the last is left out where it is
    under 0.9 of the one before, cut short where the run ended (its threads
    ending one by one in a part of a second)."""
    mb_s, seconds = rates.mb_s, [0.0] + rates.seconds
    if len(mb_s) >= 2 and seconds[-1] - seconds[-2] < 0.9 * (seconds[-2] - seconds[-3]):
        return mb_s[:-1]
    return list(mb_s)


def rates_spread(mb_s: Sequence[float]) -> Optional[float]:
    """The spread of per-second rates as a share of their median: the
    middle half, (third quartile - first) / median; None under four. The
    quartiles lie within the values (interpolated between the sorted
    values' ranks), so that one outlier among few seconds does not set them."""
    if len(mb_s) < 4 or not statistics.median(mb_s):
        return None
    quartiles = statistics.quantiles(mb_s, n=4, method="inclusive")
    return (quartiles[2] - quartiles[0]) / statistics.median(mb_s)


def phase_spread(rates: Rates, phases: Sequence[Dict]) -> Optional[float]:
    """rates_spread() of each rate as a share of its phase's median, so that
    a fill's change of speed is not counted as its noise."""
    if not phases:
        return rates_spread(rates.mb_s)
    shares = []
    for seconds, mb_s in zip(rates.seconds, rates.mb_s):
        phase = next((p for p in phases if p["start_s"] < seconds <= p["end_s"]), phases[-1])
        if phase["mb_s"]:
            shares.append(mb_s / phase["mb_s"])
    return rates_spread(shares)


def verdict(base: float, other: float, base_spread: Optional[float], other_spread: Optional[float],
            higher_is_better: bool = True) -> str:
    """"faster" or "slower" (other against base) only where their ratio is
    further from 1 than the larger of the two spreads (shares); "within the
    noise" otherwise; "no spread known" where either record has none (its
    noise is not known, so no difference can be shown beyond it)."""
    spreads = [base_spread, other_spread]
    if None in spreads:
        return "no spread known"
    if not base or not other:
        return "within the noise" if base == other else ("faster" if (other > base) == higher_is_better
                                                          else "slower")
    change = other / base - 1.0
    if abs(change) <= max(spreads):
        return "within the noise"
    return "faster" if (change > 0) == higher_is_better else "slower"


def time_limit(data: Dict) -> Optional[str]:
    """A run's --seconds from its command ("none" without one), which its
    settings do not keep; None where the record has no command as a list."""
    command = data.get("command")
    if not isinstance(command, list):
        return None
    words = [str(word) for word in command]
    for number, word in enumerate(words):
        if word == "--seconds" and number + 1 < len(words):
            return words[number + 1]
        if word.startswith("--seconds="):
            return word.split("=", 1)[1]
    return "none"


def read_back(data: Dict) -> str:
    """Whether a fill read its runs back."""
    return "yes" if any(isinstance(run, dict) and run.get("read") for run in data.get("runs") or []) else "no"


DIFFERING = {"run": [("program", ("program",)), ("version", ("version",)), ("mode", ("settings", "mode")),
                     ("block KB", ("settings", "block_kb")), ("threads", ("settings", "threads")),
                     ("GB each", ("settings", "file_gb")), ("time limit, s", time_limit), ("file system", ("target", "file_system")),
                     ("device", ("target", "device")), ("model", ("target", "model")),
                     ("kernel", ("machine", "kernel")), ("CPU", ("machine", "cpu"))],
             "fill": [("version", ("measured", "vorlax_version")), ("mode", ("settings", "mode")),
                      ("block KB", ("settings", "block_kb")), ("threads", ("settings", "threads")),
                      ("planned GB", ("settings", "planned_gb")), ("read back", read_back),
                      ("file system", ("measured", "fs_type")), ("device", ("measured", "device")),
                      ("model", ("measured", "device_model"))]}
DIFFERING["sweep"] = [row for row in DIFFERING["fill"] if isinstance(row[1], tuple) and row[1][0] == "measured"] + [
    ("GB each", ("cells", 0, "size_gb"))]  # one size a sweep: a buffered cell of 1 GB is not one of 16


def _value(data: Dict, path):
    """The value at path (keys and indexes) in data, or path(data)."""
    if callable(path):
        return path(data)
    for key in path:
        data = data.get(key) if isinstance(data, dict) else data[key] if isinstance(data, list) and data else None
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
# Figures set by a few blocks: the seconds' rates say nothing of their noise,
# so only repeats (a spread of their own) could; a run has none.
TAIL = ("p99_9_ms", "max_ms")


def record_spread(record: Record) -> Optional[float]:
    """The spread a run's or fill's figures are judged by: of its whole
    seconds' rates (a fill's, each as a share of its phase); None for a sweep
    and where there are under four."""
    if record.kind == "run":
        return rates_spread(whole_rates(record.rates))
    return phase_spread(record.rates, record.data.get("phases") or []) if record.kind == "fill" else None


def figures(record: Record) -> List[Figure]:
    data, rates = record.data, record.rates
    spread = record_spread(record)
    if record.kind == "run":
        latency = data.get("latency") or {}
        rows = [("MB/s", run_mb_s(record), spread, True, mb_s_text),
                ("median MB/s of the seconds", statistics.median(rates.mb_s) if rates.mb_s else None, spread, True,
                 mb_s_text)]
        rows += [(name, latency.get(key), None if key in TAIL else spread, False, ms_text)
                 for name, key in BLOCK_TIMES]
        return rows
    cliff = data.get("cliff") or {}
    return [("average MB/s", data.get("average_mb_s"), spread, True, mb_s_text),
            ("median MB/s", data.get("median_mb_s"), spread, True, mb_s_text),
            ("fast phase MB/s", cliff.get("from_mb_s"), spread, True, mb_s_text),
            ("MB/s after the cliff", cliff.get("to_mb_s"), spread, True, mb_s_text)]


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
    if failure(base) or failure(other):
        return "a failed run"
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
