"""What a fill found, written as fill.json, fill.md, fill.png and fill.svg.
The texts are made by pure functions; write_outputs() writes them."""

import json
import os
from typing import Dict, List, Optional, Tuple

from vorlax_fill import Fill, Plan
from vorlax_log import ToolError
from vorlax_machine import Measured
from vorlax_phase_text import summary_lines, time_text
from vorlax_phases import Analysis, chain, samples_of
from vorlax_runner import Settings, read_verdict, write_status
from vorlax_signals import write_whole


def read_summary(fill: Fill) -> Optional[str]:
    """"every byte checked: pass (3 runs)", the first failure, or None when
    nothing was read."""
    reads = [one for one in fill.runs if one.read]
    if not reads:
        return None
    bad = [one for one in reads if read_verdict(one.read) != "pass"]
    if not bad:
        return "every byte read back and checked: pass (%d run%s)" % (len(reads), "" if len(reads) == 1 else "s")
    first = bad[0].read
    return "read back: %s in %d of %d runs%s" % (read_verdict(first), len(bad), len(reads),
                                                 ": " + first.messages[0] if first.messages else "")


def json_document(fill: Fill, plan: Plan, settings: Settings, measured: Measured, analysis: Analysis,
                  wall_s: float, interrupted: Optional[str]) -> Dict[str, object]:
    """What was measured and how, each run, the chained samples and the
    analysis: phases, cliff (or None), dips."""
    seconds, total_mb = chain(samples_of(fill.samples()))
    read_seconds, read_mb = chain(samples_of(fill.samples(reading=True)))
    document = {
        "measured": measured.as_dict(),
        "settings": {"mode": settings.mode, "block_kb": settings.block_kb, "threads": settings.threads,
                     "planned_gb": plan.total_gb(), "planned_runs": len(plan.run_gb),
                     "free_gb": plan.free_bytes / 2 ** 30, "margin_gb": plan.margin_bytes / 2 ** 30},
        "finished": fill.stopped is None and not interrupted,
        "stopped": interrupted or fill.stopped,
        "wall_s": wall_s,
        "runs": [{"prefix": os.path.basename(one.prefix), "size_gb": one.settings.size_gb,
                  "write": "stopped" if one.interrupted else write_status(one.write),
                  "exit_status": None if one.interrupted else one.write.exit_status,
                  "mb": one.write.final.total_mb if one.write.final else None,
                  "elapsed_s": one.write.final.elapsed_s if one.write.final else None,
                  "messages": one.write.messages,
                  "read": None if one.read is None else {
                      "verdict": read_verdict(one.read), "exit_status": one.read.exit_status,
                      "mb": one.read.final.total_mb if one.read.final else None,
                      "elapsed_s": one.read.final.elapsed_s if one.read.final else None,
                      "messages": one.read.messages}} for one in fill.runs],
        "samples": [[float(s), float(mb)] for s, mb in zip(seconds, total_mb)],
        "read_samples": [[float(s), float(mb)] for s, mb in zip(read_seconds, read_mb)],
        "read": read_summary(fill),
    }
    document.update(analysis.as_dict())
    return document


def markdown(fill: Fill, plan: Plan, settings: Settings, measured: Measured, analysis: Analysis,
             wall_s: float, interrupted: Optional[str], picture: Optional[str] = "fill.svg") -> str:
    """fill.md; it shows picture (None: there is none)."""
    lines = ["# VORLAX fill of %s" % measured.folder, "",
             "- folder: %s, %s" % (measured.folder, measured.disk_text()),
             "- date: %s" % measured.date,
             "- program: %s, %s, runs back to back" % (measured.vorlax_version, settings.label()),
             "- machine: %s" % measured.machine_text(),
             "- plan: %d GB in %d run%s, %s" % (
                 plan.total_gb(), len(plan.run_gb), "" if len(plan.run_gb) == 1 else "s", plan.left_free_text()),
             "- written: %.1f GB in %.1f s of runs, %.1f s in all" % (analysis.total_gb, analysis.total_s, wall_s)]
    if interrupted or fill.stopped:
        lines.append("- stopped: %s" % (interrupted or fill.stopped))
    lines += ["", "## What the speed did", ""] + ["- " + line for line in summary_lines(analysis)]
    if read_summary(fill):
        lines += ["- " + read_summary(fill)]
    if analysis.phases:
        lines += ["", "| phase | from GB | to GB | from s | to s | MB/s |", "|---:|---:|---:|---:|---:|---:|"]
        lines += ["| %d | %.2f | %.2f | %.1f | %.1f | %.0f |" % (n, p.start_gb, p.end_gb, p.start_s, p.end_s, p.mb_s)
                  for n, p in enumerate(analysis.phases, 1)]
    if analysis.dips:
        lines += ["", "| dip at GB | at s | seconds | MB/s | slowest write |", "|---:|---:|---:|---:|---:|"]
        lines += ["| %.2f | %.1f | %.1f | %.0f | %s |" % (d.start_gb, d.start_s, d.seconds, d.mb_s,
                                                        "" if d.slowest_ms is None else time_text(d.slowest_ms))
                  for d in analysis.dips]
    lines += ["", "![MB/s against GB written](%s)" % picture] if picture else []
    lines += ["", "Every run's output is in fill.log%s." % (", the reads' in fill-read.log" if read_summary(fill)
                                                          else "")]
    return "\n".join(lines) + "\n"


def write_outputs(out_dir: str, fill: Fill, plan: Plan, settings: Settings, measured: Measured,
                  analysis: Analysis, wall_s: float,
                  interrupted: Optional[str]) -> Tuple[List[str], Optional[ToolError]]:
    """fill.json, its page report.html, the charts fill.png and fill.svg
    when a run has a progress line, then fill.md, which links the chart only
    when it was drawn, in out_dir; (their paths, the ToolError that kept the
    page or the charts out or None)."""
    path = os.path.join(out_dir, "fill.json")
    write_whole(path, json.dumps(json_document(fill, plan, settings, measured, analysis, wall_s, interrupted),
                                  indent=1) + "\n")
    written, failure = [path], None
    try:
        from vorlax_report_html import write_report
        write_report([path], os.path.join(out_dir, "report.html"), "VORLAX fill of %s" % measured.folder)
        written.append(os.path.join(out_dir, "report.html"))
    except ToolError as error:
        failure = error
    if fill.samples():
        stopped = "; stopped part way: %s" % (interrupted or fill.stopped) if interrupted or fill.stopped else ""
        title = "VORLAX fill: %s, %s%s\n%s; %s; %s" % (
            measured.folder, settings.label(), stopped, measured.disk_text(), measured.date[:16],
            measured.vorlax_version)
        try:
            from vorlax_phase_chart import plot_phases
            for name in ("fill.png", "fill.svg"):
                plot_phases(fill.samples(), analysis, os.path.join(out_dir, name), "gb",
                            fill.samples(reading=True), title=title)
                written.append(os.path.join(out_dir, name))
        except ToolError as error:
            failure = error
    picture = "fill.svg" if os.path.join(out_dir, "fill.svg") in written else None
    path = os.path.join(out_dir, "fill.md")
    write_whole(path, markdown(fill, plan, settings, measured, analysis, wall_s, interrupted, picture))
    return written + [path], failure
