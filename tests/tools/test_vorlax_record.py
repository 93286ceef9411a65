"""The run record read as a run (vorlax_record, through vorlax_log's
parse_file) and drawn by vorlax-plot with its latency panel."""

import json
import unittest

import support
from test_record import EXAMPLE, SCHEMA, jsonschema, run_into_fifos
from vorlax_log import LogError, parse_file, parse_text
from vorlax_phase_text import summary_lines, time_text
from vorlax_phases import Dip, analyse_runs
from vorlax_record import name_slowest_blocks, run_of_text, slowest_block
from test_vorlax_log import GOOD


class RecordAsRun(unittest.TestCase):
    def test_the_example_read_as_a_log_of_the_same_run_would_be(self):
        run, = parse_file(EXAMPLE)
        self.assertEqual((run.mode, run.block_kb, run.threads, run.size_gb, run.reading, run.shortfall()),
                         ("U", 1024, 1, 1, False, None))
        # Rates as vorlax computes them: whole MB/s, truncated.
        self.assertEqual([(s.elapsed_ms, s.total_mb, s.sustained_mbps, s.incremental_mbps) for s in run.samples][:4]
                         + [(s.elapsed_ms, s.total_mb, s.sustained_mbps, s.incremental_mbps) for s in run.samples][-1:],
                         [(1000, 100, 100, 100), (2000, 200, 100, 100), (3000, 251, 83, 51),
                          (4000, 351, 87, 100), (10700, 1024, 95, 104)])
        self.assertEqual(run.max_ms[2:4] + run.max_ms[-1:], [1503.1, 93.5, 12.4])
        self.assertEqual([(c.thread, c.blocks, c.elapsed_ms) for c in run.completions], [(0, 1024, 10700)])
        self.assertEqual(run.latency["stalls"]["count"], 1)

    def test_the_slowest_block_of_a_span(self):
        run, = parse_file(EXAMPLE)
        cases = [((1.5, 3.5), (1503.1, 2.04)),   # the listed stall, where it began
                 ((3.0, 3.5), (1503.1, 2.04)),   # ... also when it began before the span and lasted into it
                 ((3.6, 4.0), (93.5, 4.0)),      # no stall: the slowest progress line's
                 ((11.0, 19.0), None)]
        for span, expected in cases:
            self.assertEqual(slowest_block(run, *span), expected, span)
        log_run, = parse_text(GOOD)
        self.assertIsNone(slowest_block(log_run, 0, 100))

    def test_each_dip_named_by_its_slowest_block_across_chained_runs(self):
        first, = parse_file(EXAMPLE)
        second, = parse_file(EXAMPLE)  # the same run again, 10.7 s later on the chained time
        dips = [Dip(0.2, 2.5, 1.0, 40), Dip(1.2, 10.7 + 2.5, 1.0, 40), Dip(0.5, 5.5, 1.0, 40), Dip(3, 30, 1, 40)]
        name_slowest_blocks(dips, [first, second])
        self.assertEqual([(d.slowest_ms, d.slowest_at_s) for d in dips],
                         [(1503.1, 2.04), (1503.1, 12.74), (95.3, 6.0), (None, None)])
        self.assertEqual([time_text(ms) for ms in (1503.1, 94.4, 12.0, 0.613)], ["1.5 s", "94 ms", "12 ms", "0.61 ms"])
        a = analyse_runs([first, second])
        a.dips = dips[:1]
        self.assertIn("the dip at 0.20 GB: its slowest write took 1.5 s", summary_lines(a))

    def test_what_is_not_a_record_it_reads(self):
        with open(EXAMPLE) as text:
            good = json.load(text)
        cases = [("{not json", "r.json: the record is cut short or not JSON: Expecting property name"),
                 (json.dumps(dict(good, record_version=2)), "of version 1 (record_version 2)"),
                 (json.dumps({k: v for k, v in good.items() if k != "samples"}), "not a whole VORLAX run record"),
                 (json.dumps(dict(good, samples=[[1.0]])), "not a whole VORLAX run record")]
        for text, words in cases:
            with self.assertRaises(LogError) as raised:
                run_of_text(text, "r.json")
            self.assertIn(words, str(raised.exception))
            self.assertNotIn("\n", str(raised.exception))

    def test_vorlax_plot_draws_a_record_with_its_latency_panel(self):
        with support.Scratch() as scratch:
            out = scratch.file("r.png")
            done = support.run_tool("vorlax-plot", EXAMPLE, "-o", out)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            self.assertEqual(support.png_size(out), (1000, 560))
            # The phases' chart (vorlax-fill's, and --phases) carries the latency panel too.
            done = support.run_tool("vorlax-plot", "--phases", EXAMPLE, EXAMPLE, "-o", out)
            self.assertEqual((done.returncode, done.stderr), (0, ""))
            self.assertEqual(support.png_size(out), (1000, 560))
            bad = scratch.file("bad.json")
            with open(bad, "w") as text:
                text.write('{"record_version": 7}')
            done = support.run_tool("vorlax-plot", bad, "-o", out)
            self.assertEqual(done.returncode, 2)
            self.assertRegex(done.stderr, r"^vorlax-plot: .*bad.json: not a VORLAX run record of version 1 .*\n$")


BAD = "vorlax-read: /s/run_00.BIN: 2 bad blocks of 1024 read; the first is block 20 at byte 20971520: found 0x00"
MISSING = "vorlax-read: /s/run_01.BIN: cannot open: No such file or directory; check the path prefix"
FULL = "vorlax: /s/run_00.BIN: write failed after 3 blocks: No space left on device; free some space"
ODD = "vorlax: /s/run_00.BIN: something no kind names"


def made_up(stopped, *workers, program="vorlax"):
    """The example record of program, stopped so, with a worker of each
    (result, blocks, reason), checked against the schema."""
    with open(EXAMPLE) as text:
        record = json.load(text)
    record.update(program=program, stopped=stopped, settings=dict(record["settings"], threads=len(workers)),
                  threads=[{"index": i, "result": result, "blocks": blocks, "mb": blocks, "reason": reason}
                           for i, (result, blocks, reason) in enumerate(workers)])
    if jsonschema:
        with open(SCHEMA) as text:
            jsonschema.Draft7Validator(json.load(text)).validate(record)
    return json.dumps(record)


class StopsAndFailures(unittest.TestCase):
    def test_a_record_and_a_log_of_one_run_fall_short_alike_and_say_why(self):
        log = GOOD.replace("1 done! 4096", "1 done! 1000").replace("0 done! 4096", "0 done! 999")
        stuck = log.replace("thread 0 done! 999\n", "")
        cases = [  # record: stopped, workers; the same run's log with its stderr (2>&1); what both say
            ("deadline", [("stopped", 1000, None), ("stopped", 999, None)], log, None),
            ("terminate", [("stopped", 1000, None), ("stopped", 999, None)],
             log + "vorlax: run stopped by SIGTERM: 7 MB written; the test files: /s/run_00.BIN\n",
             "stopped by SIGTERM"),
            ("interrupt", [("stopped", 1000, None), ("running", 999, None)],
             stuck + "vorlax: run stopped by Ctrl-C: 7 MB written; ...; 1 thread was still in a block after 3 s, "
                     "not waited for\n", "stopped by Ctrl-C"),
            ("deadline", [("stopped", 1000, None), ("running", 999, None)],
             stuck + "vorlax: run stopped at its time limit: 7 MB written; the test files: /s/run_00.BIN to "
                     "/s/run_01.BIN; 1 thread was still in a block after 3 s, not waited for\n",
             "failed: a thread stuck in a block"),
            (None, [("completed", 4096, BAD), ("open_failed", 0, MISSING)], GOOD + BAD + "\n" + MISSING + "\n",
             "failed: bad blocks, missing test file"),
            ("terminate", [("stopped", 1000, BAD), ("stopped", 999, None)],
             log + BAD + "\nvorlax: run stopped by SIGTERM: 7 MB written; the test files: /s/run_00.BIN\n",
             "stopped by SIGTERM; failed: bad blocks"),
            (None, [("write_failed", 3, FULL), ("completed", 4096, None)], GOOD + FULL + "\n", "failed: full disk"),
        ]
        for stopped, workers, text, said in cases:
            with self.subTest(stopped=stopped, workers=workers):
                self.assertEqual(run_of_text(made_up(stopped, *workers), "r.json").shortfall(), said)
                self.assertEqual(parse_text(text)[0].shortfall(), said)
        # A line of no known kind; a record tells its worker's result, an unknown one as it is.
        self.assertEqual(parse_text(GOOD + ODD + "\n")[0].shortfall(), "failed")
        for workers, said in (([("write_short", 3, ODD)], "failed: short write"),
                              ([("bad_blocks", 1024, None)], "failed: bad blocks"),
                              ([("frobbed", 0, None)], "failed: frobbed")):
            self.assertEqual(run_of_text(made_up(None, *workers), "r.json").shortfall(), said)

    def test_vorlax_plot_draws_a_real_run_to_its_time_limit_as_whole(self):
        with support.Scratch() as scratch:
            record = scratch.file("timed.json")
            status, out, err = run_into_fifos(scratch, ["--seconds", "1", "--json", record], mode="trickle")
            self.assertEqual(status, 0, err)
            with open(record) as text:
                self.assertEqual(json.load(text)["stopped"], "deadline")
            log = scratch.file("timed.log")
            with open(log, "w") as text:
                text.write(out + err)
            for path in (record, log):
                done = support.run_tool("vorlax-plot", path, "-o", scratch.file("timed.svg"))
                self.assertEqual((done.returncode, done.stderr), (0, ""), path)

    def test_the_latency_legend_leaves_the_stall_marks_seen(self):
        from vorlax_charts import load_pyplot
        from vorlax_run_chart import draw_runs
        pyplot = load_pyplot()
        figure = draw_runs(pyplot, parse_file(EXAMPLE), [])
        try:
            figure.canvas.draw()
            latency = next(axes for axes in figure.axes if axes.get_ylabel() == "slowest block (ms)")
            marks = next(line for line in latency.get_lines() if line.get_marker() == "x")
            box = latency.get_legend().get_window_extent()
            for point in latency.transData.transform(marks.get_xydata()):
                self.assertFalse(box.contains(*point), (point, box))
        finally:
            pyplot.close(figure)


if __name__ == "__main__":
    unittest.main()
