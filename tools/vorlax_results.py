"""A sweep's results: its runs gathered into cells (median, best and spread
of the sustained MB/s of writes and reads), written as results.md,
results.csv, results.json and a bar chart."""

import csv
import io
import json
import os
import statistics
from dataclasses import asdict, dataclass, field, fields
from typing import Dict, List, Optional, Tuple

from vorlax_machine import Measured
from vorlax_runner import Pass, Settings, read_verdict, write_status
from vorlax_sweep import Result
from vorlax_sweep_messages import merged_messages, varying_text  # noqa: F401  (re-exported)


@dataclass
class SweepPlan:
    """What the sweep set out to do and how far it got: results.json's
    "plan", the partial marks in results.md and the chart's title."""
    command: List[str]
    modes: List[str]
    blocks_kb: List[int]
    threads: List[int]
    size_gb: int
    runs_per_cell: int
    options: Dict[str, object] = field(default_factory=dict)
    programs: Dict[str, object] = field(default_factory=dict)   # path, version and origin of each program
    stopped: Optional[str] = None    # "interrupted during run 3 of 8", None for a whole sweep
    cut_log: Optional[str] = None    # what became of the stopped run's log

    def planned_runs(self) -> int:
        return len(self.modes) * len(self.blocks_kb) * len(self.threads) * self.runs_per_cell


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

    def write_latency_ms(self, key: str) -> Optional[float]:
        """The median over the good writes of their records' key
        ("median_ms", "p99_ms"...); None without records."""
        values = [r.write.latency[key] for r in self.results
                  if r.write.ok() and r.write.latency and r.write.latency.get(key) is not None]
        return float("%.3g" % statistics.median(values)) if values else None

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
    """Whole numbers without decimals, halves (a median of two) with one,
    times under 10 ms with their three digits; "" for none."""
    if value is None:
        return ""
    if value == int(value):
        return "%d" % value
    return "%g" % value if value < 10 else "%.1f" % value


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
    write_p50_ms: Optional[float]    # per block, from the runs' records: medians over the cell's runs
    write_p99_ms: Optional[float]
    write_p99_9_ms: Optional[float]
    write_failed: int
    read_median_mbps: Optional[float]
    read_best_mbps: Optional[int]
    read_spread_pct: Optional[int]
    read_verdict: Optional[str]


def cell_row(cell: Cell) -> CellRow:
    s, write, read = cell.settings, cell.write(), cell.read()
    verdict = cell.verdict()
    return CellRow(s.mode, s.block_kb, s.threads, s.size_gb, len(cell.results), write.median(), write.best(),
                   _whole(write.spread_pct()), cell.write_latency_ms("median_ms"), cell.write_latency_ms("p99_ms"),
                   cell.write_latency_ms("p99_9_ms"), cell.write_failed(), read.median(), read.best(),
                   _whole(read.spread_pct()), None if verdict == "not read" else verdict)


def _whole(value: Optional[float]) -> Optional[int]:
    return None if value is None else int(round(value))


def _text(value: object) -> str:
    return value if isinstance(value, str) else figure_text(value)


def any_read(results: List[Result]) -> bool:
    return any(result.read for result in results)


def markdown_table(results: List[Result], measured: Measured, runs_per_cell: int,
                   plan: Optional[SweepPlan] = None) -> str:
    """What was measured, the table of cells (a cell with fewer runs than
    planned marked *), and the programs' notes and failures (each kind
    once, with the cells that gave it)."""
    reads = any_read(results)
    partial = plan is not None and plan.stopped is not None
    lines = ["# VORLAX sweep of %s" % measured.folder, "",
             "- folder: %s, %s" % (measured.folder, measured.disk_text()),
             "- date: %s" % measured.date,
             "- program: %s" % measured.vorlax_version,
             "- machine: %s" % measured.machine_text(),
             "- reads: %s" % measured.reads,
             "- %d run%s per cell%s, each on fresh files; MB/s (MB = 2^20 bytes) is the sustained rate of a run's "
             "last progress line: the median of the cell's runs, the best, and the spread (best - worst) / median"
             % (runs_per_cell, "" if runs_per_cell == 1 else "s", " planned" if partial else "")]
    if partial:
        lines.append("- partial: %s; %d of %d runs done; cells marked * have fewer runs than planned, and cells "
                     "not reached are missing; %s" % (plan.stopped, len(results), plan.planned_runs(), plan.cut_log))
    lines.append("")
    head = ["mode", "block KB", "threads", "GB each", "runs", "write MB/s", "write best", "write spread",
            "block ms: median", "99 %", "99.9 %"]
    head += ["read MB/s", "read best", "read spread", "check"] if reads else []
    rule = ["---" if name in ("mode", "check") else "---:" for name in head] + ["---"]
    lines += ["| %s | status |" % " | ".join(head), "|%s|" % "|".join(rule)]
    for cell in cells(results):
        row = {key: _text(value) for key, value in asdict(cell_row(cell)).items()}
        if len(cell.results) < runs_per_cell:
            row["runs"] += "*"
        fields = [row[key] for key in ("mode", "block_kb", "threads", "size_gb", "runs", "write_median_mbps",
                                       "write_best_mbps")] + [_pct(row["write_spread_pct"])] + [
            row[key] for key in ("write_p50_ms", "write_p99_ms", "write_p99_9_ms")]
        if reads:
            fields += [row["read_median_mbps"], row["read_best_mbps"], _pct(row["read_spread_pct"]), cell.verdict()]
        lines.append("| %s | %s |" % (" | ".join(fields), cell.status()))
    said = merged_messages(results)
    if said:
        lines += ["", "What the programs said:", ""] + said
    return "\n".join(lines) + "\n"


def _pct(text: str) -> str:
    return text + "%" if text else ""


def csv_table(results: List[Result]) -> str:
    keys = [column.name for column in fields(CellRow)]
    table = io.StringIO()
    writer = csv.writer(table, lineterminator="\n")
    writer.writerow(keys)
    writer.writerows([_text(row[key]) for key in keys] for row in map(asdict, map(cell_row, cells(results))))
    return table.getvalue()


def _pass_object(one: Optional[Pass], verdict: str, out_dir: str) -> Optional[Dict[str, object]]:
    if one is None:
        return None
    final = one.final
    return {"verdict": verdict, "exit_status": one.exit_status, "mb": final.total_mb if final else None,
            "elapsed_s": final.elapsed_s if final else None,
            "sustained_mbps": final.sustained_mbps if final else None,
            "log": os.path.relpath(one.log_path, out_dir), "messages": one.messages}


def json_document(results: List[Result], measured: Measured, out_dir: str,
                  plan: Optional[SweepPlan] = None) -> Dict[str, object]:
    """What was measured, the plan and how far it got ("partial"), one
    object per run (settings, figures, verdicts) and the cells as
    results.csv has them."""
    runs = [{"mode": r.settings.mode, "block_kb": r.settings.block_kb, "threads": r.settings.threads,
             "size_gb": r.settings.size_gb, "repeat": r.repeat,
             "write": _pass_object(r.write, write_status(r.write), out_dir),
             "read": _pass_object(r.read, read_verdict(r.read), out_dir)} for r in results]
    return {"measured": measured.as_dict(), "plan": asdict(plan) if plan else None,
            "partial": bool(plan and plan.stopped), "runs_done": len(results),
            "runs": runs, "cells": [asdict(cell_row(cell)) for cell in cells(results)]}


RESULT_NAMES = ("results.md", "results.csv", "results.json")


def write_outputs(results: List[Result], measured: Measured, runs_per_cell: int, out_dir: str,
                  chart_name: Optional[str], plan: Optional[SweepPlan] = None) -> List[str]:
    """Writes results.md, results.csv, results.json, its page report.html
    and the chart (unless chart_name is None) into out_dir; returns their
    paths (no chart when no run was tried)."""
    texts = (("results.md", markdown_table(results, measured, runs_per_cell, plan)),
             ("results.csv", csv_table(results)),
             ("results.json", json.dumps(json_document(results, measured, out_dir, plan), indent=1) + "\n"))
    written = []
    for name, text in texts:
        path = os.path.join(out_dir, name)
        with open(path, "w") as table:
            table.write(text)
        written.append(path)
    from vorlax_report_html import write_report
    write_report([written[-1]], os.path.join(out_dir, "report.html"), "VORLAX sweep of %s" % measured.folder)
    written.append(os.path.join(out_dir, "report.html"))
    if chart_name and results:
        from vorlax_sweep_chart import draw_chart
        path = os.path.join(out_dir, chart_name)
        draw_chart(results, measured, runs_per_cell, path, plan)
        written.append(path)
    return written
