"""The report page: one self-contained HTML text with inline styles and
SVG, no script and a policy that lets it load nothing. Every text from a
record is escaped here or in vorlax_report_svg."""

import bisect
import sys
from html import escape
from typing import List, Optional, Sequence

from vorlax_log import ToolError
from vorlax_report import Record, RecordError, dip_slowest_ms, load, os_reason
from vorlax_report_paths import check_output, repeated, short_names
from vorlax_report_compare import comparison, differing, record_spread
from vorlax_report_svg import block_chart, nice_ticks, time_chart
from vorlax_report_text import gb_text, headline, mb_s_text, ms_text, notes_of, plural, settings_rows, sweep_latency
from vorlax_signals import write_whole

STYLE = """
body { font: 15px/1.45 "DejaVu Sans", Arial, sans-serif; color: #222; max-width: 1000px; margin: 1em auto;
       padding: 0 1em; }
h1 { font-size: 1.5em; } h2 { font-size: 1.25em; border-bottom: 1px solid #ccc; margin-top: 2em; }
h3 { font-size: 1.05em; } .headline { font-size: 1.1em; font-weight: bold; }
table { border-collapse: collapse; margin: .5em 0; font-size: .9em; }
td, th { border: 1px solid #ccc; padding: 2px 7px; text-align: right; vertical-align: top; }
th { background: #f0f0f0; } td.text, th.text { text-align: left; }
.faster { color: #1a7f37; font-weight: bold; } .slower { color: #c62828; font-weight: bold; }
svg.chart { display: block; margin: .5em 0; font-size: 11px; } svg.chart text { fill: #333; }
code, .notes { font-family: "DejaVu Sans Mono", monospace; font-size: .85em; white-space: pre-wrap; }
footer { margin-top: 3em; color: #777; font-size: .8em; }
@media print { body { max-width: none; } svg.chart, table { page-break-inside: avoid; } }
"""
POLICY = "default-src 'none'; style-src 'unsafe-inline'"
PHASE_FILLS = ["#dbe9f6", "#f6ecd5"]


def table(head: Optional[Sequence[str]], rows: Sequence[Sequence[object]], text_columns: Sequence[int] = (0,)) -> str:
    """An HTML table; the columns in text_columns are set left."""
    def cell(tag, number, value):
        klass = ' class="text"' if number in text_columns else ""
        return "<%s%s>%s</%s>" % (tag, klass, escape("" if value is None else str(value)), tag)
    lines = ["<table>"] + (["<tr>%s</tr>" % "".join(cell("th", n, h) for n, h in enumerate(head))] if head else [])
    lines += ["<tr>%s</tr>" % "".join(cell("td", n, v) for n, v in enumerate(row)) for row in rows]
    return "\n".join(lines + ["</table>"])


def _gb_ticks(record: Record) -> List:
    """(second, "12 GB") where the GB written pass round values."""
    rates = record.rates
    if not rates.gb:
        return []
    out = []
    for gb in nice_ticks(0.0, rates.gb[-1], 8)[1:]:
        at = bisect.bisect_left(rates.gb, gb)
        if at < len(rates.gb):
            before_s, before_gb = (rates.seconds[at - 1], rates.gb[at - 1]) if at else (0.0, 0.0)
            share = (gb - before_gb) / ((rates.gb[at] - before_gb) or 1.0)
            out.append((before_s + share * (rates.seconds[at] - before_s), "%g GB" % gb))
    return out


def _second_of_gb(record: Record, gb: float) -> float:
    rates = record.rates
    at = min(bisect.bisect_left(rates.gb, gb), len(rates.gb) - 1)
    return rates.seconds[at] if at >= 0 else 0.0


def _latency_panel(record: Record) -> str:
    rates = record.rates
    if not any(value is not None for value in rates.max_ms):
        return ""
    latency = record.data.get("latency") or {}
    stalls = (latency.get("stalls") or {}).get("longest") or []
    marks = [(s["at_s"], s["ms"], "stall: %s at %.1f s (thread %d)" % (ms_text(s["ms"]), s["at_s"], s["thread"]))
             for s in stalls]
    threshold_ms = (latency.get("stalls") or {}).get("threshold_ms") or (
        record.data.get("settings") or {}).get("stall_ms") or 100
    return "<h3>The slowest block of each interval</h3>\n" + time_chart(
        [("slowest block", rates.seconds, rates.max_ms)], "seconds", "ms (log)", 240, marks=marks, log_y=True,
        level=(threshold_ms, "stall: %s or more" % ms_text(threshold_ms)),
        label="slowest block per interval, ms") + _stall_text(latency)


def _stall_text(latency) -> str:
    stalls = latency.get("stalls")
    if not stalls:
        return ""
    if not stalls.get("count"):
        return "<p>No stalls.</p>"
    longest = (stalls.get("longest") or [{}])[0]
    return "<p>%s, %.2f s in all; the longest %s at %.1f s; marked in red.</p>" % (
        escape(plural(int(stalls["count"]), "stall")), stalls.get("total_s") or 0.0, ms_text(longest.get("ms")),
        longest.get("at_s") or 0.0)


def _threads(record: Record) -> str:
    data = record.data
    rows = [("", t.get("index"), t.get("result"), t.get("blocks"), t.get("mb"), t.get("reason"))
            for t in data.get("threads") or []]
    for number, rank in enumerate(data.get("ranks") or []):
        rows += [("%s %s" % (rank.get("rank", number), rank.get("host", "")), t.get("index"), t.get("result"),
                  t.get("blocks"), t.get("mb"), t.get("reason")) for t in rank["threads"]]
    if not rows:
        return ""
    head = ["rank, host", "thread", "result", "blocks", "MB", "reason"]
    keep = 0 if data.get("ranks") else 1
    return "<h3>Per thread</h3>\n" + table(head[keep:], [row[keep:] for row in rows], (0, 1, 2, 5)[keep:])


def _fill_chart(record: Record) -> str:
    data, rates = record.data, record.rates
    spans = [(p["start_s"], p["end_s"], PHASE_FILLS[n % 2], "phase %d: %s" % (n + 1, mb_s_text(p["mb_s"])))
             for n, p in enumerate(data.get("phases") or [])]
    cliff = data.get("cliff")
    if cliff and rates.gb:
        low, high = (_second_of_gb(record, cliff["gb"] + d * cliff["plus_minus_gb"]) for d in (-1, 1))
        spans.append((low, high, "#9e9e9e", "the fast phase ended at %s \u00b1 %s" % (
            gb_text(cliff["gb"]), gb_text(cliff["plus_minus_gb"]))))
    spans += [(d["start_s"], d["start_s"] + d["seconds"], "#f4b6b6", _dip_text(d)) for d in data.get("dips") or []]
    series = [("write", rates.seconds, rates.mb_s)]
    if record.read_rates.seconds:
        series.append(("read back", record.read_rates.seconds, record.read_rates.mb_s))
    return time_chart(series, "seconds of runs (GB written on top)", "MB/s", spans=spans,
                      top_ticks=_gb_ticks(record), label="MB/s over the fill")


def _dip_text(dip) -> str:
    text = "dip at %s (%.0f s in), %.0f s at %s" % (gb_text(dip["start_gb"]), dip["start_s"], dip["seconds"],
                                                    mb_s_text(dip["mb_s"]))
    if dip_slowest_ms(dip) is not None:
        text += "; its slowest block took %s" % ms_text(dip_slowest_ms(dip))
    return text


def _plus_minus(phase) -> str:
    """The uncertainty of where a phase ended, where the fill gives one."""
    value = phase.get("plus_minus_gb")
    return "%.2f" % value if isinstance(value, (int, float)) and value else ""


def _fill_body(record: Record) -> List[str]:
    data = record.data
    out = [_fill_chart(record), _latency_panel(record)]
    out.append("<p><b>Read back:</b> %s</p>" % escape(data.get("read") or "not read back"))
    if data.get("phases"):
        out += ["<h3>Phases</h3>", table(["phase", "from GB", "to GB", "\u00b1 GB", "from s", "to s", "MB/s"], [
            (n, "%.2f" % p["start_gb"], "%.2f" % p["end_gb"], _plus_minus(p), "%.1f" % p["start_s"],
             "%.1f" % p["end_s"], "%.0f" % p["mb_s"]) for n, p in enumerate(data["phases"], 1)], ())]
    if data.get("dips"):
        out += ["<h3>Dips</h3>", table(["at GB", "at s", "seconds", "MB/s", "slowest block"], [
            ("%.2f" % d["start_gb"], "%.1f" % d["start_s"], "%.1f" % d["seconds"], "%.0f" % d["mb_s"],
             ms_text(dip_slowest_ms(d))) for d in data["dips"]], ())]
    return out


def _sweep_lines(records: Sequence[Record]):
    lines = []
    for record in records:
        prefix = record.name + ": " if len(records) > 1 else ""
        groups = {}
        for cell in record.data["cells"]:
            for kind in ("write", "read"):
                median = cell.get(kind + "_median_mbps")
                if median is None:
                    continue
                worst, best = _worst_best(record, cell, kind, median)
                name = "%s%s x%d %s" % (prefix, cell["mode"], cell["threads"], kind)
                groups.setdefault(name, []).append((cell["block_kb"], median, worst, best))
        lines += [(name, sorted(points)) for name, points in groups.items()]
    return lines


def _worst_best(record: Record, cell, kind: str, median: float):
    figures = [(run.get(kind) or {}).get("sustained_mbps") for run in record.data.get("runs") or []
               if (run["mode"], run["block_kb"], run["threads"]) == (cell["mode"], cell["block_kb"], cell["threads"])]
    figures = [f for f in figures if f is not None]
    return (min(figures), max(figures)) if figures else (median, cell.get(kind + "_best_mbps") or median)


def _sweep_body(record: Record) -> List[str]:
    cells = record.data["cells"]
    latency_keys, latency = sweep_latency(record)
    head = ["mode", "block KB", "threads", "GB each", "runs", "write MB/s", "worst\u2013best"]
    rows = []
    for cell, figures in zip(cells, latency):
        worst, best = _worst_best(record, cell, "write", cell.get("write_median_mbps") or 0)
        row = [cell["mode"], cell["block_kb"], cell["threads"], cell.get("size_gb"), cell.get("runs"),
               cell.get("write_median_mbps"), "%g\u2013%g" % (worst, best) if cell.get("write_median_mbps") else ""]
        row += [cell.get("read_median_mbps"), cell.get("read_verdict")]
        rows.append(row + [ms_text(figures.get(key)) for key in latency_keys])
    head += ["read MB/s", "check"] + [key[:-3].replace("p99_9", "p99.9").replace("_", " ") for key in latency_keys]
    return ["<h3>The cells</h3>", table(head, rows, (0, 8)),
            "<h3>MB/s against block size (median, whiskers from the worst to the best run)</h3>",
            block_chart(_sweep_lines([record]))]


def spread_text(spread: Optional[float]) -> str:
    """The sentence that gives a record's spread, the noise its verdicts allow."""
    if spread is None:
        return "Spread of its per-second rates: none known (under four whole seconds)."
    return "Spread of its per-second rates (the middle half, third quartile \u2212 first, over the median): %.1f %%." \
        % (100 * spread)


def record_section(record: Record, number: int) -> str:
    out = ['<section id="r%d">' % number, "<h2>%s</h2>" % escape(record.name),
           '<p class="headline">%s</p>' % escape(headline(record))]
    if record.kind != "sweep":
        out.append("<p>%s</p>" % spread_text(record_spread(record)))
    if record.kind == "run":
        out.append(time_chart([("MB/s", record.rates.seconds, record.rates.mb_s)], "seconds", "MB/s",
                              label="MB/s over the run"))
        out += [_latency_panel(record), _threads(record)]
    elif record.kind == "fill":
        out += _fill_body(record)
    else:
        out += _sweep_body(record)
    notes = notes_of(record)
    if notes:
        out += ["<h3>Notes</h3>", '<div class="notes">%s</div>' % escape("\n".join(notes))]
    out += ["<h3>Settings and machine</h3>", table(None, settings_rows(record), (0, 1))]
    return "\n".join(part for part in out if part) + "\n</section>"


def comparison_section(records: Sequence[Record]) -> str:
    names = [record.name for record in records]
    out = ["<section>", "<h2>Comparison of %s</h2>" % escape(", ".join(names)), "<ul>%s</ul>" % "".join(
        "<li><b>%s</b>: %s</li>" % (escape(r.name), escape(headline(r))) for r in records)]
    rows = differing(records)
    out.append("<p>Settings that differ:</p>" + table(["setting"] + names, [[n] + v for n, v in rows], range(99))
               if rows else "<p>The records have the same settings.</p>")
    if records[0].kind == "sweep":
        out.append(block_chart(_sweep_lines(records)))
    else:
        out.append(time_chart([(r.name, r.rates.seconds, r.rates.mb_s) for r in records], "seconds", "MB/s",
                              label="MB/s of each record"))
    head = ["figure"] + names[:1] + [part for name in names[1:] for part in (name, "against the first")]
    body = []
    for figure, texts, verdicts in comparison(records):
        row = [figure, texts[0]] + [part for pair in zip(texts[1:], verdicts) for part in pair]
        body.append(row)
    text = table(head, body, (0,))
    for word in ("faster", "slower"):
        text = text.replace(" %s</td>" % word, ' <span class="%s">%s</span></td>' % (word, word))
    out += [text, "<p>A verdict is &ldquo;faster&rdquo; or &ldquo;slower&rdquo; only where the ratio is further "
            "from 1 than the runs' own spread: of their repeats, else the middle half of their per-second rates; "
            "otherwise &ldquo;within the noise&rdquo;; &ldquo;no spread known&rdquo; where a record has no spread (no "
            "repeats, under four whole seconds). The 99.9 % and slowest block are set by a few blocks: the per-second rates "
            "say nothing of their noise, so they get a verdict only from repeats, which a run has not (&ldquo;no "
            "spread known&rdquo;); the median and 99 % block, set by many, are judged by the rates' spread. A failed "
            "run is not compared. Block times are compared only at one block size and mode, and a "
            "read not with a write: the cell says why it is not.</p>", "</section>"]
    return "\n".join(out)


def page(records: Sequence[Record], title: str, made_by: str, twice: Sequence = ()) -> str:
    """The whole page: the records given twice (twice: pairs of paths), the
    comparisons of records of one kind, then each record."""
    parts = ['<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">',
             '<meta http-equiv="Content-Security-Policy" content="%s">' % POLICY,
             '<meta name="viewport" content="width=device-width, initial-scale=1">',
             "<title>%s</title>\n<style>%s</style>\n</head>\n<body>" % (escape(title), STYLE),
             "<h1>%s</h1>" % escape(title)]
    parts += ["<p><b>%s and %s are the same record twice</b>: its figures are compared with themselves.</p>"
              % (escape(first), escape(again)) for first, again in twice]
    for kind in ("run", "fill", "sweep"):
        same = [record for record in records if record.kind == kind]
        if len(same) > 1:
            parts.append(comparison_section(same))
    parts += [record_section(record, number) for number, record in enumerate(records, 1)]
    parts.append("<footer>%s</footer>\n</body>\n</html>\n" % escape(made_by))
    return "\n".join(parts)


def write_report(paths: Sequence[str], output: str, title: Optional[str] = None) -> int:
    """Reads the records at paths and writes their page to output, whole or
    not at all; returns how many records it shows. RecordError for a record
    that cannot be shown, ToolError for a page that cannot be written or
    would overwrite a record. A record given twice is shown twice and said
    so on stderr and on the page."""
    check_output(output, paths)
    records = [load(path) for path in paths]
    twice = repeated(paths)
    for record, name in zip(records, short_names(paths)):
        record.shown_as = name
    for first, again in twice:
        print("vorlax-report: %s and %s are the same record twice; it is compared with itself" % (first, again),
              file=sys.stderr)
    title = title or "VORLAX report: %s" % ", ".join(record.name for record in records)
    try:
        text = page(records, title, "made by vorlax-report from %s" % ", ".join(record.path for record in records),
                    twice)
    except (ArithmeticError, LookupError, TypeError, ValueError) as error:
        # The checks on reading let only what the page shows through; this is the net under them.
        raise RecordError("%s: a record holds what the page cannot show (%s: %s)" % (
            ", ".join(paths), type(error).__name__, error))
    try:
        write_whole(output, text)
    except OSError as error:
        raise ToolError("cannot write %s: %s" % (output, os_reason(error)))
    return len(records)
