"""A sweep's results: its runs gathered into cells (median, best and spread
of the sustained MB/s of writes and reads), written as results.md,
results.csv, results.json and a bar chart."""

import json
import os
import statistics
from dataclasses import asdict, dataclass, fields
from typing import Dict, List, Optional, Tuple

from vorlax_machine import Measured
from vorlax_sweep import Pass, Result, Settings, read_verdict, write_status


@dataclass
class Figures:
    """Sustained MB/s of the good runs of a cell, one figure per run."""
    values: List[int]

    def median(self) -> Optional[float]:
        """A whole number but for the half between the middle two of an even count."""
        if not self.values:
            return None
        middle = statistics.median(self.values)
        return int(middle) if middle == int(middle) else middle

    def best(self) -> Optional[int]:
        return max(self.values) if self.values else None

    def spread_pct(self) -> Optional[float]:
        """(best - worst) / median in percent; None under two runs."""
        if len(self.values) < 2 or not self.median():
            return None
        return 100.0 * (max(self.values) - min(self.values)) / self.median()


@dataclass
class Cell:
    settings: Settings
    results: List[Result]

    def write(self) -> Figures:
        return Figures([r.write.final.sustained_mbps for r in self.results if r.write.ok()])

    def read(self) -> Figures:
        return Figures([r.read.final.sustained_mbps for r in self.results if r.read and r.read.ok()])

    def write_failed(self) -> int:
        return sum(1 for r in self.results if not r.write.ok())

    def status(self) -> str:
        failed = [write_status(r.write) for r in self.results if not r.write.ok()]
        if not failed:
            return "ok"
        return failed[0] if len(failed) == len(self.results) else "%d of %d %s" % (
            len(failed), len(self.results), failed[0])

    def verdict(self) -> str:
        """pass when every read passed, fail when one did not ("1 of 3 fail"),
        not read when none was read."""
        verdicts = [read_verdict(r.read) for r in self.results if r.read]
        bad = [v for v in verdicts if v != "pass"]
        if not verdicts:
            return "not read"
        if not bad:
            return "pass"
        return bad[0] if len(bad) == len(verdicts) else "%d of %d %s" % (len(bad), len(verdicts), bad[0])


def cells(results: List[Result]) -> List[Cell]:
    """The runs by cell, cells in the order of their first run."""
    by_cell: Dict[Tuple, Cell] = {}
    for result in results:
        s = result.settings
        by_cell.setdefault((s.mode, s.block_kb, s.threads, s.size_gb), Cell(s, [])).results.append(result)
    return list(by_cell.values())


def figure_text(value: Optional[float]) -> str:
    """Whole numbers without decimals, halves (a median of two) with one; "" for none."""
    if value is None:
        return ""
    return "%d" % value if value == int(value) else "%.1f" % value


@dataclass
class CellRow:
    """A cell's figures under results.csv's column names, in its order:
    numbers, or None where there is none (a spread of one run, reads not
    measured)."""
    mode: str
    block_kb: int
    threads: int
    size_gb: int
    runs: int
    write_median_mbps: Optional[float]
    write_best_mbps: Optional[int]
    write_spread_pct: Optional[int]
    write_failed: int
    read_median_mbps: Optional[float]
    read_best_mbps: Optional[int]
    read_spread_pct: Optional[int]
    read_verdict: Optional[str]


def cell_row(cell: Cell) -> CellRow:
    s, write, read = cell.settings, cell.write(), cell.read()
    verdict = cell.verdict()
    return CellRow(s.mode, s.block_kb, s.threads, s.size_gb, len(cell.results), write.median(), write.best(),
                   _whole(write.spread_pct()), cell.write_failed(), read.median(), read.best(),
                   _whole(read.spread_pct()), None if verdict == "not read" else verdict)


def _whole(value: Optional[float]) -> Optional[int]:
    return None if value is None else int(round(value))


def _text(value: object) -> str:
    return value if isinstance(value, str) else figure_text(value)


def _any_read(results: List[Result]) -> bool:
    return any(result.read for result in results)


def markdown_table(results: List[Result], measured: Measured, runs_per_cell: int) -> str:
    """What was measured, the table of cells, and the programs' notes and
    failures (each once, with the cells that gave it)."""
    reads = _any_read(results)
    lines = ["# VORLAX sweep of %s" % measured.folder, "",
             "- folder: %s, %s" % (measured.folder, measured.disk_text()),
             "- date: %s" % measured.date,
             "- program: %s" % measured.vorlax_version,
             "- machine: %s" % measured.machine_text(),
             "- reads: %s" % measured.reads,
             "- %d run%s per cell, each on fresh files; MB/s (MB = 2^20 bytes) is the sustained rate of a run's last "
             "progress line: the median of the cell's runs, the best, and the spread (best - worst) / median"
             % (runs_per_cell, "" if runs_per_cell == 1 else "s"), ""]
    head = ["mode", "block KB", "threads", "GB each", "runs", "write MB/s", "best", "spread"]
    head += ["read MB/s", "best", "spread", "check"] if reads else []
    rule = ["---" if name in ("mode", "check") else "---:" for name in head] + ["---"]
    lines += ["| %s | status |" % " | ".join(head), "|%s|" % "|".join(rule)]
    for cell in cells(results):
        row = {key: _text(value) for key, value in asdict(cell_row(cell)).items()}
        fields = [row[key] for key in ("mode", "block_kb", "threads", "size_gb", "runs", "write_median_mbps",
                                       "write_best_mbps")] + [_pct(row["write_spread_pct"])]
        if reads:
            fields += [row["read_median_mbps"], row["read_best_mbps"], _pct(row["read_spread_pct"]), cell.verdict()]
        lines.append("| %s | %s |" % (" | ".join(fields), cell.status()))
    said: Dict[str, List[str]] = {}  # each message once, with the cells that gave it
    for result in results:
        for message in [m for p in (result.write, result.read) if p for m in p.messages]:
            labels = said.setdefault(message, [])
            if result.settings.label() not in labels:
                labels.append(result.settings.label())
    if said:
        lines += ["", "What the programs said:", ""]
        lines += ["- %s: `%s`" % (", ".join(labels), message) for message, labels in said.items()]
    return "\n".join(lines) + "\n"


def _pct(text: str) -> str:
    return text + "%" if text else ""


def csv_table(results: List[Result]) -> str:
    keys = [column.name for column in fields(CellRow)]
    rows = [asdict(cell_row(cell)) for cell in cells(results)]
    return "\n".join([",".join(keys)] + [",".join(_text(row[key]) for key in keys) for row in rows]) + "\n"


def _pass_object(one: Optional[Pass], verdict: str, out_dir: str) -> Optional[Dict[str, object]]:
    if one is None:
        return None
    final = one.final
    return {"verdict": verdict, "exit_status": one.exit_status, "mb": final.total_mb if final else None,
            "elapsed_s": final.elapsed_s if final else None,
            "sustained_mbps": final.sustained_mbps if final else None,
            "log": os.path.relpath(one.log_path, out_dir), "messages": one.messages}


def json_document(results: List[Result], measured: Measured, out_dir: str) -> Dict[str, object]:
    """What was measured, one object per run (settings, figures, verdicts)
    and the cells as results.csv has them."""
    runs = [{"mode": r.settings.mode, "block_kb": r.settings.block_kb, "threads": r.settings.threads,
             "size_gb": r.settings.size_gb, "repeat": r.repeat,
             "write": _pass_object(r.write, write_status(r.write), out_dir),
             "read": _pass_object(r.read, read_verdict(r.read), out_dir)} for r in results]
    return {"measured": measured.as_dict(), "runs": runs, "cells": [asdict(cell_row(cell)) for cell in cells(results)]}


def chart_title(measured: Measured, size_gb: int, runs_per_cell: int, reads: bool) -> str:
    what = "write and read" if reads else "write"
    repeats = ", median of %d runs" % runs_per_cell if runs_per_cell > 1 else ""
    return "VORLAX sweep: sustained %s MB/s by block size (%d GB per thread%s)\n%s: %s; %s; %s; %s" % (
        what, size_gb, repeats, measured.folder, measured.disk_text(), measured.date[:16],
        measured.vorlax_version, measured.machine_text())


def draw_chart(results: List[Result], measured: Measured, runs_per_cell: int, path: str) -> None:
    """Bars of the median sustained MB/s, one group per block size, one bar
    per mode and thread count, write and read side by side (the read bar
    hatched), a whisker from the worst to the best of several runs."""
    from vorlax_charts import plot_bars
    reads = _any_read(results)
    kinds = ["write", "read"] if reads else ["write"]
    blocks = sorted({r.settings.block_kb for r in results})
    pairs = sorted({(r.settings.mode, r.settings.threads) for r in results})
    names = [(pair, kind) for pair in pairs for kind in kinds]
    values = [[None] * len(names) for _ in blocks]
    spans = [[None] * len(names) for _ in blocks]
    for cell in cells(results):
        row = blocks.index(cell.settings.block_kb)
        for kind in kinds:
            figures = cell.write() if kind == "write" else cell.read()
            column = names.index(((cell.settings.mode, cell.settings.threads), kind))
            values[row][column] = figures.median()
            if len(figures.values) > 1:
                spans[row][column] = (min(figures.values), max(figures.values))
    plot_bars(["%s x%d %s" % (pair + (kind,)) if reads else "%s x%d" % pair for pair, kind in names],
              ["%dK" % block for block in blocks], values, path,
              title=chart_title(measured, results[0].settings.size_gb, runs_per_cell, reads), spans=spans,
              colour_of=[pairs.index(pair) for pair, _ in names], hatched=[kind == "read" for _, kind in names])


def write_outputs(results: List[Result], measured: Measured, runs_per_cell: int, out_dir: str,
                  chart_name: str) -> List[str]:
    """Writes results.md, results.csv, results.json and the chart into
    out_dir; returns their paths (no chart when no run finished)."""
    texts = (("results.md", markdown_table(results, measured, runs_per_cell)), ("results.csv", csv_table(results)),
             ("results.json", json.dumps(json_document(results, measured, out_dir), indent=1) + "\n"))
    written = []
    for name, text in texts:
        path = os.path.join(out_dir, name)
        with open(path, "w") as table:
            table.write(text)
        written.append(path)
    if any(result.write.final for result in results):
        path = os.path.join(out_dir, chart_name)
        draw_chart(results, measured, runs_per_cell, path)
        written.append(path)
    return written
