"""vorlax-report: the verdicts against the runs' own spread, the envelope
of a long series, every kind of record, escaping of what records hold, and
malformed records refused with one line and exit 2."""

import json
import os
import re
import unittest

import support
from report_records import fill_document, run_record, sweep_document, write_all
from vorlax_report import RecordError, parse_text
from vorlax_report_compare import comparison, differing, rates_spread, relative_spread, verdict
from vorlax_report_html import page
from vorlax_report_svg import envelope

EXAMPLE = os.path.join(support.ROOT, "tests", "tools", "data", "record-vorlax.json")
SCHEMA = os.path.join(support.ROOT, "docs", "record.schema.json")


def record(document, name="r.json"):
    return parse_text(json.dumps(document), name)


def verdicts(*documents):
    """{figure: verdict of the second against the first}."""
    records = [record(d, "%d.json" % n) for n, d in enumerate(documents)]
    return {name: words[0] for name, _, words in comparison(records)}


class Verdicts(unittest.TestCase):
    def test_arithmetic(self):
        cases = [  # base, other, spreads, higher is better -> verdict
            (100, 120, 0.10, 0.05, True, "faster"), (100, 80, 0.10, 0.05, True, "slower"),
            (100, 109, 0.10, 0.02, True, "within the noise"), (100, 91, 0.02, 0.10, True, "within the noise"),
            (10.0, 5.0, 0.20, 0.10, False, "faster"), (10.0, 10.5, 0.02, 0.10, False, "within the noise"),
            (100, 200, 0.10, None, True, "no spread known"), (100, 50, None, 0.10, True, "no spread known"),
            (100, 200, None, None, True, "no spread known"), (0, 0, 0.1, 0.1, True, "within the noise")]
        for base, other, spread_a, spread_b, higher, expected in cases:
            self.assertEqual(verdict(base, other, spread_a, spread_b, higher), expected,
                             (base, other, spread_a, spread_b))

    def test_spreads(self):
        self.assertAlmostEqual(relative_spread([90, 100, 110]), 0.2)
        self.assertIsNone(relative_spread([100]))
        self.assertAlmostEqual(rates_spread([100] * 10 + [90, 110] * 10), 0.2)
        self.assertIsNone(rates_spread([100, 100, 100]))

    def test_runs_without_repeats_use_their_per_second_spread(self):
        # About 3 % of noise per second: 30 % apart is faster, 1 % apart is not.
        found = verdicts(run_record(mb_s=500), run_record(mb_s=650, seed=3))
        self.assertTrue(found["MB/s"].endswith(" faster"), found)
        self.assertTrue(verdicts(run_record(mb_s=500), run_record(mb_s=505, seed=4))["MB/s"].endswith("noise"))
        self.assertTrue(verdicts(run_record(mb_s=650), run_record(mb_s=500, seed=4))["MB/s"].endswith(" slower"))

    def test_records_without_a_spread_or_not_alike_get_no_verdict(self):
        short = run_record(seconds=4, stall_at_s=None)  # 3 whole seconds and a cut-short 4th
        short["samples"][-1][0] -= 0.5
        cases = [  # other record -> (verdict on MB/s, on the block times)
            (run_record(seconds=3, stall_at_s=None), ("no spread known", "no spread known")),
            (short, ("no spread known", "no spread known")),
            (run_record(mb_s=200, block_kb=64, seed=5),
             ("slower", "not compared: block sizes differ (64 KB against 1024 KB)")),
            (dict(run_record(mb_s=200, seed=7), settings=dict(run_record()["settings"], mode="B")),
             ("slower", "not compared: buffered against unbuffered")),
            (run_record(mb_s=900, program="vorlax-read"), ("not compared: a read against a write",) * 2)]
        for other, (mb_s, block) in cases:
            found = verdicts(run_record(), other)
            self.assertTrue(found["MB/s"].endswith(mb_s), found)
            self.assertTrue(all(found[name].endswith(block) for name in ("median block", "slowest block")), found)

    def test_sweeps_use_their_repeats(self):
        # Each cell's repeats lie 8 % apart: 30 % more is faster, 3 % is within the noise.
        faster = verdicts(sweep_document(), sweep_document(scale=1.3))
        self.assertEqual(len(faster), 8)
        self.assertTrue(all(v.endswith(" faster") for v in faster.values()), faster)
        self.assertTrue(all(v.endswith("noise") for v in verdicts(sweep_document(),
                                                                  sweep_document(scale=1.03)).values()))

    def test_fills_and_what_differs(self):
        found = verdicts(fill_document(), fill_document(fast_mb_s=1300.0, seed=5))
        self.assertTrue(found["fast phase MB/s"].endswith(" faster"), found)
        self.assertTrue(found["MB/s after the cliff"].endswith("noise"), found)
        self.assertEqual(found["the fast phase ended at"], "later")
        other = run_record(model="Other disk")
        other["settings"]["block_kb"] = 64
        self.assertEqual(differing([record(run_record()), record(other)]),
                         [("block KB", ["1024", "64"]), ("model", [run_record()["target"]["model"], "Other disk"])])
        sweeps = [sweep_document(), sweep_document()]
        sweeps[1]["cells"][0]["size_gb"] = 4
        self.assertEqual(differing([record(d) for d in sweeps]), [("GB each", ["1", "4"])])


class Envelope(unittest.TestCase):
    def test_a_long_series_is_bounded_and_keeps_its_extremes(self):
        xs = [float(n) for n in range(36000)]
        ys = [500.0 + (n % 7) for n in range(36000)]
        ys[12345], ys[30000] = 0.0, 4000.0
        points = envelope(xs, ys, 0.0, 36000.0, 880)
        self.assertLessEqual(len(points), 2 * 880)
        self.assertIn((12345.0, 0.0), points)
        self.assertIn((30000.0, 4000.0), points)
        self.assertEqual(points, sorted(points))
        self.assertEqual({y for _, y in points} - {0.0, 4000.0}, {500.0, 506.0})

    def test_a_short_series_is_whole_without_gaps(self):
        self.assertEqual(envelope([1, 2, 3], [5, None, 7], 0, 3, 880), [(1, 5), (3, 7)])


class Inputs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = support.Scratch().__enter__()
        cls.folder = cls.scratch.path
        cls.paths = write_all(cls.folder)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.__exit__(None, None, None)

    def run_tool(self, *arguments):
        return support.run_tool("vorlax-report", *arguments)

    def test_every_kind_gives_its_headline_and_figures(self):
        paths = [self.paths[name] for name in ("run.json", "read.json", "mpi.json", "fill.json", "results.json")]
        if os.path.exists(EXAMPLE):
            paths.append(EXAMPLE)
        output = os.path.join(self.folder, "all.html")
        done = self.run_tool(*paths, "-o", output, "--title", "all <kinds>")
        self.assertEqual((done.returncode, done.stderr), (0, ""))
        with open(output) as html:
            text = html.read()
        for expected in ("unbuffered 1024 KB \u00d7 2 threads on ext4", "read back: unbuffered", "on 2 ranks",
                         "node1", "fill of /mnt/test", "the fast phase ended at", "its slowest block took 1412 ms",
                         "every byte read back and checked: pass", "sweep of /mnt/test on ext4",
                         ": 4 cells; the fastest write 912 MB/s", "875\u2013948",
                         "1 stall, 1.50 s in all", "<title>all &lt;kinds&gt;</title>"):
            self.assertTrue(expected in text, expected)
        self.assertNotIn("NaN", text)
        self.assertEqual(text.count("<svg"), 9 + (2 if os.path.exists(EXAMPLE) else 0))

    def test_the_run_records_made_here_fit_the_schema(self):
        try:
            import jsonschema
        except ImportError:
            self.skipTest("no jsonschema (Debian: python3-jsonschema)")
        if not os.path.exists(SCHEMA):
            self.skipTest("no %s" % SCHEMA)
        with open(SCHEMA) as schema:
            schema = json.load(schema)
        for name in ("run.json", "read.json", "mpi.json"):
            with open(self.paths[name]) as made:
                jsonschema.validate(json.load(made), schema)

    def test_a_sweeps_latency_from_its_cells_or_its_runs(self):
        by_runs = sweep_document()
        for number, run in enumerate(by_runs["runs"]):
            run["write"]["latency"] = {"median_ms": 1.0 + number % 3, "p99_ms": 9.5}
        by_cells = sweep_document()
        by_cells["cells"][0].update({"write_p50_ms": 0.5, "write_p99_ms": 12.25, "write_p99_9_ms": None})
        for document, expected in ((by_runs, "<td>2.00 ms</td><td>9.50 ms</td>"),
                                   (by_cells, "<th>write p50</th><th>write p99</th></tr>")):
            text = page([record(document)], "t", "m")
            self.assertIn(expected, text)
            self.assertIn("write p99", text)

    def test_texts_from_records_are_escaped(self):
        text = page([record(run_record()), record(fill_document()), record(sweep_document())], "t", "m")
        self.assertNotIn("<script", text)
        self.assertNotIn("<b>not", text)
        self.assertIn("Disk &lt;script&gt;alert(1)&lt;/script&gt; &amp; Co", text)
        self.assertIn("/mnt/test/t &lt;is&gt; on a disk &amp; said so", text)
        self.assertIn("vorlax: note: &lt;b&gt;not bold&lt;/b&gt;", text)

    def test_ten_hours_of_fill_stay_small(self):
        output = os.path.join(self.folder, "ten.html")
        self.assertEqual(self.run_tool(self.paths["fill-10h.json"], "-o", output).returncode, 0)
        self.assertLess(os.path.getsize(output), 2 * 2 ** 20)
        with open(output) as html:
            widest = max(len(points.split()) for points in re.findall(r'points="([^"]*)"', html.read()))
        self.assertLessEqual(widest, 2 * 874)

    def test_malformed_records_give_one_line_and_exit_2(self):
        good = json.dumps(run_record())
        broken = run_record()
        broken["samples"][3][1] = "12"
        wrong = fill_document()
        wrong["dips"] = [{"start_gb": 1}]
        cases = {"truncated": good[:len(good) // 2], "nan": good.replace('"mb_s": ', '"mb_s": NaN, "x": ', 1),
                 "sample": json.dumps(broken), "dip": json.dumps(wrong), "list": "[1, 2]", "other": '{"a": 1}',
                 "empty": "", "binary": b"\xff\xfe{"}
        for name, text in cases.items():
            path = os.path.join(self.folder, name + ".json")
            with open(path, "wb") as out:
                out.write(text if isinstance(text, bytes) else text.encode())
            output = os.path.join(self.folder, name + ".html")
            done = self.run_tool(self.paths["run.json"], path, "-o", output)
            self.assertEqual(done.returncode, 2, name)
            self.assertEqual(len(done.stderr.splitlines()), 1, (name, done.stderr))
            self.assertRegex(done.stderr, r"^vorlax-report: .*%s\.json: " % name)
            self.assertFalse(os.path.exists(output), name)
        with self.assertRaises(RecordError):
            parse_text('{"program": "vorlax", "samples": [[1, 2]], "latency": {"max_ms": "x"}}', "x")


if __name__ == "__main__":
    unittest.main()
