"""vorlax-report's faults found in use (issue 28's second pass): spreads
and verdicts that noise or a failed run misled, records refused or read
by what they hold, records and settings told apart, and every tool
stopped at controlled points with 130/143 and no traceback."""

import json
import os
import signal
import subprocess
import time
import unittest

import support
from report_records import fill_document, run_record
from vorlax_report import parse_text, rates_of
from vorlax_report_compare import comparison, differing, rates_spread
from vorlax_report_html import page
from vorlax_report_paths import short_names
from vorlax_report_text import headline


def record(document, name="r.json"):
    return parse_text(json.dumps(document), name)


def rates_run(mb_s_per_second, **changes):
    """A run record whose seconds went at the given MB/s."""
    document, total = run_record(**changes), 0.0
    document["samples"] = []
    for second, rate in enumerate(mb_s_per_second, 1):
        total += rate
        document["samples"].append([float(second), total, 3.0])
    document.update(total_mb=total, seconds=float(len(mb_s_per_second)), mb_s=total / len(mb_s_per_second))
    return document


class Spreads(unittest.TestCase):
    def test_verdicts_not_misled(self):
        failed = run_record(mb_s=900, seed=9)
        failed.update(exit_status=1)
        failed["threads"][0].update(result="write_failed", blocks=267, reason="No space left on device")
        tails = run_record(seed=2)
        tails["latency"].update(p99_9_ms=60.0, max_ms=3000.0)
        cases = [  # other record, figure -> its verdict's ending (the first record is run_record())
            (tails, "99.9 % of blocks", "no spread known"), (tails, "slowest block", "no spread known"),
            (tails, "median block", "within the noise"),
            (failed, "MB/s", "not compared: a failed run"), (failed, "median block", "not compared: a failed run")]
        for other, figure, expected in cases:
            found = {name: words[0] for name, _, words in comparison([record(run_record()), record(other)])}
            self.assertTrue(found[figure].endswith(expected), (figure, found[figure]))
        self.assertIn("(failed: thread 0, write failed after 267 blocks)", headline(record(failed)))
        # One warm-up second among five does not set the middle half.
        self.assertLess(rates_spread([2437, 285, 321, 275, 323]), 0.2)
        warm = rates_run([2437, 285, 321, 275, 323, 300])
        found = comparison([record(warm), record(rates_run([1222, 1230, 1215, 1225, 1220, 1222]))])
        self.assertTrue(found[0][2][0].endswith("faster"), found[0])
        self.assertIn("Spread of its per-second rates", page([record(warm)], "t", "m"))

    def test_a_cut_short_last_interval_joins_the_one_before(self):
        cases = [  # samples -> MB/s of each interval
            ([[1.0, 1000], [2.0, 2000], [2.003, 2002]], [1000, 1002 / 1.003]),
            ([[1.0, 1000], [2.0, 2000], [2.5, 2400]], [1000, 1000, 800]),
            ([[0.002, 2]], [1000])]
        for samples, expected in cases:
            found = rates_of(samples).mb_s
            self.assertEqual(len(found), len(expected), samples)
            for value, wanted in zip(found, expected):
                self.assertAlmostEqual(value, wanted, 3, samples)

    def test_what_tells_records_apart(self):
        seconds = run_record()
        seconds["command"] += ["--seconds", "5"]
        sized = fill_document()
        sized["settings"]["planned_gb"] = 6
        sized["runs"][0]["read"] = None
        cases = [  # records -> settings that differ
            ([run_record(), seconds], [("time limit, s", ["none", "5"])]),
            ([fill_document(), sized], [("planned GB", [str(fill_document()["settings"]["planned_gb"]), "6"]),
                                        ("read back", ["yes", "no"])])]
        for documents, expected in cases:
            self.assertEqual(differing([record(d) for d in documents]), expected)
        self.assertEqual(short_names(["/a/sw1/results.json", "/a/sw2/results.json", "/b/fill.json"]),
                         ["sw1/results.json", "sw2/results.json", "fill.json"])
        self.assertIn(": 1,469 MB/s", headline(record(dict(run_record(), mb_s=1469.9))))


class Files(unittest.TestCase):
    def test_files_refused_or_taken_by_what_they_hold(self):
        with support.Scratch() as scratch:
            folder = scratch.path
            good = os.path.join(folder, "good.json")
            with open(good, "w") as out:
                json.dump(run_record(), out)
            with open(good, "rb") as source:
                original = source.read()

            def made(name, document, prefix=b""):
                path = os.path.join(folder, name)
                with open(path, "wb") as out:
                    out.write(prefix + (document if isinstance(document, bytes) else json.dumps(document).encode()))
                return path
            bad = {"negative": dict(run_record(), mb_s=-5), "missing": os.path.join(folder, "none.json"),
                   "folder": folder}
            bad["settings"] = {k: v for k, v in run_record().items() if k != "settings"}
            bad["samples"] = {k: v for k, v in run_record().items() if k != "samples"}
            cases = [  # arguments -> exit status, what stderr says
                ([made("empty.json", b"\n")], 2, "the file is empty"),
                ([made("binary.json", b"\xd0\xff\x00")], 2, "not a text file"),
                ([made("neg.json", bad["negative"])], 2, "mb_s is negative"),
                ([made("nosettings.json", bad["settings"])], 2, "settings is missing"),
                ([made("nosamples.json", bad["samples"])], 2, "samples is missing"),
                ([bad["missing"]], 2, "No such file or directory; check the path"),
                ([bad["folder"]], 2, "give a file name, not a folder"),
                ([good, "-o", good], 2, "that is the record"),
                ([good, "-o", folder], 1, "give a file name, not a folder"),
                ([made("bom.json", run_record(), b"\xef\xbb\xbf"), "-o", os.path.join(folder, "b.html")], 0, ""),
                ([good, good, "-o", os.path.join(folder, "twice.html")], 0, "the same record twice")]
            for arguments, status, said in cases:
                done = support.run_tool("vorlax-report", *arguments)
                self.assertEqual(done.returncode, status, (arguments, done.stderr))
                self.assertIn(said, done.stderr, arguments)
                self.assertLessEqual(len(done.stderr.splitlines()), 1, done.stderr)
            with open(good, "rb") as source:
                self.assertEqual(source.read(), original)
            with open(os.path.join(folder, "twice.html")) as html:
                self.assertIn("the same record twice", html.read())


def _catches_sigterm(pid):
    """Whether pid handles SIGTERM: the launchers' first lines done."""
    try:
        with open("/proc/%d/status" % pid) as status:
            caught = next(line for line in status if line.startswith("SigCgt:"))
    except (OSError, StopIteration):
        return False
    return bool(int(caught.split()[1], 16) & (1 << (signal.SIGTERM - 1)))


class Stops(unittest.TestCase):
    def stop(self, arguments, stop, at_start=True, fifo=None):
        """Runs a tool, stops it with the signal stop once its launcher
        handles stops (at_start) or once it opens the FIFO it reads; returns
        (status, stderr, whether the signal came before it ended)."""
        tool = subprocess.Popen([os.path.join(support.TOOLS, arguments[0])] + arguments[1:], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)
        writer = None
        if at_start:
            deadline = time.monotonic() + 60
            while not _catches_sigterm(tool.pid) and tool.poll() is None and time.monotonic() < deadline:
                time.sleep(0.0005)
        else:
            writer = open(fifo, "w")  # returns once the tool has opened it; it waits for more while open
        sent = tool.poll() is None
        if sent:
            tool.send_signal(stop)
        _, stderr = tool.communicate(timeout=120)
        if writer:
            writer.close()
        return tool.returncode, stderr, sent

    def test_every_tool_stops_with_its_status_and_one_line(self):
        with support.Scratch() as scratch:
            fifo = os.path.join(scratch.path, "record.json")
            os.mkfifo(fifo)
            page_path = os.path.join(scratch.path, "p.html")
            cases = [  # arguments, signal, at start -> status
                (["vorlax-report", fifo, "-o", page_path], signal.SIGINT, False, 130),
                (["vorlax-report", fifo, "-o", page_path], signal.SIGTERM, False, 143),
                (["vorlax-plot", fifo, "-o", os.path.join(scratch.path, "p.png")], signal.SIGINT, False, 130)]
            cases += [([tool, "--help"], stop, True, 128 + stop) for tool in ("vorlax-report", "vorlax-plot",
                      "vorlax-sweep", "vorlax-fill") for stop in (signal.SIGINT, signal.SIGTERM)]
            for arguments, stop, at_start, status in cases:
                found, stderr, sent = self.stop(arguments, stop, at_start, fifo)
                self.assertNotIn("Traceback", stderr, arguments)
                if sent and found != 0:  # 0: --help was done before the signal came
                    self.assertEqual(found, status, (arguments, stderr))
                    self.assertEqual(len(stderr.splitlines()), 1, (arguments, stderr))
                    self.assertRegex(stderr, "(interrupted|terminated)")
                if arguments[0] == "vorlax-report" and not at_start:
                    self.assertIn("no page written", stderr)
            self.assertFalse(os.path.exists(page_path))


if __name__ == "__main__":
    unittest.main()
