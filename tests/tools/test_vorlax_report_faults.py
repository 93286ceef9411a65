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


def rates_run(mb_s):
    """A run record whose seconds went at the MB/s given."""
    samples = [[float(n), float(sum(mb_s[:n])), 3.0] for n in range(1, len(mb_s) + 1)]
    return dict(run_record(), samples=samples, total_mb=sum(mb_s), seconds=len(mb_s), mb_s=sum(mb_s) / len(mb_s))


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
        bad_read = run_record(seed=3)
        bad_read.update(program="vorlax-read", exit_status=1)
        bad_read["threads"][0].update(blocks=512, reason="vorlax-read: /s/r_00.BIN: 2 bad blocks of 512 read")
        stopped = dict(json.loads(json.dumps(bad_read)), stopped="terminate", exit_status=143)
        stopped["threads"][1].update(result="running")
        for document, said in ((failed, "(failed: thread 0, full disk after 267 blocks)"),  # the log reader's kinds
                               (bad_read, "(failed: thread 0, bad blocks after 512 blocks)"),
                               (stopped, "(stopped by SIGTERM) (failed: thread 0, bad blocks after 512 blocks)")):
            self.assertTrue(headline(record(document)).endswith(said), headline(record(document)))
        # One warm-up second among five does not set the middle half.
        self.assertLess(rates_spread([2437, 285, 321, 275, 323]), 0.2)
        warm = rates_run([2437, 285, 321, 275, 323, 300])
        found = comparison([record(warm), record(rates_run([1222, 1230, 1215, 1225, 1220, 1222]))])
        self.assertTrue(found[0][2][0].endswith("faster"), found[0])
        self.assertIn("Spread of its per-second rates", page([record(warm)], "t", "m"))

    def test_a_cut_short_last_interval_joins_the_one_before(self):
        cases = [  # samples -> MB/s of each interval
            ([[1.0, 1000], [2.0, 2000], [2.003, 2002]], [1000, 999]), ([[1, 1000], [2, 2000], [2.5, 2400]],
                                                                       [1000, 1000, 800]), ([[0.002, 2]], [1000])]
        for samples, expected in cases:
            self.assertEqual([int(value) for value in rates_of(samples).mb_s], expected, samples)

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
            def made(name, document, prefix=b""):
                path = os.path.join(scratch.path, name)
                with open(path, "wb") as out:
                    out.write(prefix + (document if isinstance(document, bytes) else json.dumps(document).encode()))
                return path
            good, html = made("good.json", run_record()), os.path.join(scratch.path, "p.html")
            cases = [  # arguments -> exit status, what stderr says
                ([made("e.json", b"\n")], 2, "the file is empty"), ([made("b.json", b"\xd0\xff")], 2, "not a text"),
                ([made("n.json", dict(run_record(), mb_s=-5))], 2, "mb_s is negative"),
                ([made("s.json", dict(run_record(), settings=None, samples=None))], 2, "settings is missing"),
                ([os.path.join(scratch.path, "none.json")], 2, "No such file or directory; check the path"),
                ([scratch.path], 2, "give a file name, not a folder"), ([good, "-o", good], 2, "that is the record"),
                ([good, "-o", scratch.path], 1, "Is a directory; give a file name, not a folder"),
                ([made("bom.json", run_record(), b"\xef\xbb\xbf")], 0, ""), ([good, good], 0, "same record twice")]
            for arguments, status, said in cases:
                done = support.run_tool("vorlax-report", *(arguments if "-o" in arguments else arguments + ["-o", html]))
                self.assertEqual((done.returncode, len(done.stderr.splitlines())), (status, bool(said)), done.stderr)
                self.assertIn(said, done.stderr, arguments)
            with open(good) as source, open(html) as page_text:
                self.assertEqual(json.load(source), run_record())
                self.assertIn("the same record twice", page_text.read())


def _catches_sigterm(pid):
    """Whether pid handles SIGTERM: the launchers' first lines done."""
    try:
        with open("/proc/%d/status" % pid) as status:
            caught = next(line for line in status if line.startswith("SigCgt:"))
    except (OSError, StopIteration):
        return False
    return bool(int(caught.split()[1], 16) & (1 << (signal.SIGTERM - 1)))


class Stops(unittest.TestCase):
    def test_every_tool_stops_with_its_status_and_one_line(self):
        with support.Scratch() as scratch:
            fifo, html = os.path.join(scratch.path, "record.json"), os.path.join(scratch.path, "p.html")
            os.mkfifo(fifo)
            cases = [  # arguments, signal, where: "start" (its launcher handles SIGTERM) or "fifo" (it opened it)
                (["vorlax-report", fifo, "-o", html], stop, "fifo") for stop in (signal.SIGINT, signal.SIGTERM)]
            cases += [(["vorlax-plot", fifo, "-o", html + ".png"], signal.SIGINT, "fifo")]
            cases += [([tool, "--help"], stop, "start") for tool in ("vorlax-report", "vorlax-plot", "vorlax-sweep",
                                                                    "vorlax-fill") for stop in (signal.SIGINT, signal.SIGTERM)]
            for arguments, stop, where in cases:
                tool = subprocess.Popen([os.path.join(support.TOOLS, arguments[0])] + arguments[1:],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                writer = open(fifo, "w") if where == "fifo" else None  # open once the tool opened it; it waits on
                while where == "start" and not _catches_sigterm(tool.pid) and tool.poll() is None:
                    time.sleep(0.0005)
                if tool.poll() is None:
                    tool.send_signal(stop)
                stderr = tool.communicate(timeout=120)[1]
                if writer:
                    writer.close()
                self.assertNotIn("Traceback", stderr, arguments)
                if tool.returncode != 0:  # 0: its --help was done before the signal came
                    self.assertEqual((tool.returncode, len(stderr.splitlines())), (128 + stop, 1), stderr)
                    self.assertIn("no page written" if arguments[0] == "vorlax-report" else "", stderr)
            self.assertFalse(os.path.exists(html))
        for tool in ("vorlax-report", "vorlax-plot", "vorlax-sweep", "vorlax-fill"):  # and say so alike
            with open(os.path.join(support.ROOT, "man", tool + ".1")) as page:
                said = " ".join(support.run_tool(tool, "--help").stdout.split()) + page.read()
            for words in ("; 2 bad input, ", ": a wrong command line, ", "; 130 Ctrl-C, 143 SIGTERM: ",
                          "\n.B 2\nBad input, ", "\n.B 130\nCtrl-C: ", "\n.B 143\n.BR SIGTERM :\n"):
                self.assertIn(words, said, tool)


if __name__ == "__main__":
    unittest.main()
