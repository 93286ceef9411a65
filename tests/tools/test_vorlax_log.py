"""The log reader: logs the programs print in this test run give exactly
their numbers and their failures' kinds; hand-made edge logs (in the
programs' own line formats) give runs or one-line reasons."""

import os
import subprocess
import unittest

import support
import vorlax_log
from vorlax_log import LogError, LogParser, failure_of, notes, parse_text
from vorlax_run_chart import unique_labels

GOOD = """VORLAX: writing unbuffered 1024K buffers in 2 threads up to 4 GB each
   1.000:     1790 MB written, 1790 MB/s sustained, 1790 MB/S incremental
thread 1 done! 4096
   2.001:     3581 MB written, 1789 MB/s sustained, 1791 MB/S incremental
thread 0 done! 4096
   2.575:     8192 MB written, 3181 MB/s sustained, 7452 MB/S incremental
DONE!
"""


READ = GOOD.replace("writing", "reading").replace("MB written", "MB read")

MPI = """VORLAX: writing buffered 1024K buffers in 2 threads up to 1 GB each, on 3 ranks of 2 hosts
   1.000:     1790 MB written, 1790 MB/s sustained, 1790 MB/S incremental
rank 2 thread 1 done! 1024
rank 0 thread 0 done! 1024
   2.001:     3581 MB written, 1789 MB/s sustained, 1791 MB/S incremental
vorlax-mpi: /x_r0001_00.BIN: write failed after 3 blocks: No space left on device (rank 1 on node2)
   2.500:     6144 MB written, 2457 MB/s sustained, 5126 MB/S incremental
rank 0 thread 1 done! 1024
rank 1 thread 0 done! 3
rank 0 on node1: 2048 MB written in 2.001 s, 1023 MB/s
MB/s while all ranks were writing: 1789 (3581 MB in 2.001 s, until the first rank finished)
DONE!
"""


# Closing lines of real logs: --latency, --stall-ms, a stop, vorlax-mpi's --seconds.
LATENCY = ("latency per block: median 0.310 ms, 99 % 8.49 ms, 99.9 % 12.4 ms, max 12.5 ms (thread 0, block 35, "
           "at 0.0 s)\nstalls of 1.00 ms or more: 184, 1.25 s in all; the longest 12.5 ms at 0.0 s (thread 0)\n")
TIMED = {"median_ms": 0.31, "p99_ms": 8.49, "p99_9_ms": 12.4, "max_ms": 12.5}
STONEWALL = ("stonewall: 1093 MB in 2.014 s, 542 MB/s (all ranks until they stopped at 2 s); the slowest, rank 1 on "
             "vm, was 13 MB behind rank 0 on vm\nwear-out: 1106 MB in 2.074 s, 533 MB/s (to the last rank's end, "
             "every file written on to 553 blocks)\n")


def words_of_progress_lines(out, verb):
    """The progress lines' figures read a second, simpler way: by words."""
    expected = []
    for line in out.splitlines():
        words = line.split()
        if len(words) == 10 and words[2:4] == ["MB", verb + ","] and words[9] == "incremental":
            seconds, millis = words[0].rstrip(":").split(".")
            expected.append((int(seconds) * 1000 + int(millis), int(words[1]), int(words[4]), int(words[7])))
    return expected


class RealLogs(unittest.TestCase):
    def test_parsed_series_are_the_numbers_in_the_log(self):
        with support.Scratch() as scratch:
            path, out = support.sink_run_log(scratch)
            runs = parse_text(out, path)
        self.assertEqual(len(runs), 1)
        run = runs[0]
        self.assertEqual((run.mode, run.block_kb, run.threads, run.size_gb, run.done), ("B", 1024, 2, 1, True))
        expected = words_of_progress_lines(out, "written")
        self.assertGreaterEqual(len(expected), 2, out)
        self.assertEqual([(s.elapsed_ms, s.total_mb, s.sustained_mbps, s.incremental_mbps) for s in run.samples],
                         expected)
        self.assertEqual(run.final().total_mb, 2048)
        self.assertEqual(sorted((c.thread, c.blocks) for c in run.completions), [(0, 1024), (1, 1024)])
        # A thread is done by the progress line after its completion line.
        self.assertTrue(all(c.elapsed_ms in [s.elapsed_ms for s in run.samples] for c in run.completions))
        self.assertEqual(max(c.elapsed_ms for c in run.completions), run.final().elapsed_ms)

    def test_failed_runs_are_read_by_kind(self):
        with support.Scratch() as scratch:
            missing, mounted = scratch.file("missing/run"), scratch.file("vorlax-fill-mount")
            os.mkdir(mounted)
            cases = [  # name, program, mode, prefix, mount, kind, blocks written
                ("missing folder", support.vorlax_exe(), "B", missing, None, vorlax_log.MISSING_FOLDER, 0),
                ("missing files", support.vorlax_read_exe(), "B", missing, None, vorlax_log.MISSING_FILE, 0),
                ("full disk", support.vorlax_exe(), "B", mounted + "/run", ("tmpfs", "size=8m", mounted),
                 vorlax_log.FULL_DISK, 8),
                ("read-only", support.vorlax_exe(), "B", mounted + "/run", ("tmpfs", "ro", mounted),
                 vorlax_log.READ_ONLY, 0),
                ("no unbuffered files", support.vorlax_exe(), "U", mounted + "/run", ("ramfs", "rw", mounted),
                 vorlax_log.NO_DIRECT, 0),
            ]
            for name, program, mode, prefix, mount, kind, blocks in cases:
                with self.subTest(name):
                    if program == support.STUB_READ:
                        self.skipTest("no vorlax-read built beside vorlax")
                    out, status = support.program_output(program, [mode, prefix, "1024", "1", "1"], mount)
                    self.assertEqual(status, 1, out)
                    parser = LogParser("failed.log")
                    for line in out.splitlines(keepends=True):
                        parser.feed(line)
                    failure = failure_of(parser.messages)
                    self.assertEqual(failure.kind, kind, out)
                    self.assertIn(failure.line, out.splitlines())
                    self.assertEqual(len(notes(parser.messages)), len(parser.messages) - 1, parser.messages)
                    try:  # a run that wrote nothing may end before its first progress line
                        run = parser.finish()[0]
                        written = ([c.blocks for c in run.completions], run.final().total_mb, run.done)
                    except LogError as error:
                        self.assertIn("has no progress line", str(error))
                        written = ([], 0, True)
                    self.assertEqual(written, ([blocks] if blocks else [], blocks, True))

    def test_a_note_is_no_failure(self):
        with support.Scratch() as scratch:
            out, status = support.program_output(support.vorlax_exe(), ["--latency", "B", scratch.file("run"), "1024",
                                                                        "1", "1"])
        messages = parse_text(out)[0].messages
        self.assertGreater(parse_text(out)[0].latency["max_ms"], 0, out)
        self.assertEqual((status, failure_of(messages), notes(messages)), (0, None, messages))
        self.assertTrue(messages, "vorlax says the test files fit in memory: %s" % out)

    def test_an_mpi_log(self):
        command, why = support.vorlax_mpi_run()
        if command is None:
            self.skipTest(why)
        with support.Scratch() as scratch:
            out, status = support.program_output(command[0], command[1:] + ["--latency", "--seconds", "600", "B",
                                                                              scratch.file("run"), "64", "2", "1"])
        self.assertEqual(status, 0, out)
        run = parse_text(out)[0]
        self.assertEqual((run.label(), run.ranks, run.done), ("B 64K x2 on 2 ranks", 2, True))
        self.assertEqual(sorted((c.rank, c.thread, c.blocks) for c in run.completions),
                         [(r, t, 16384) for r in (0, 1) for t in (0, 1)])
        self.assertEqual(run.final().total_mb, 4096)
        self.assertTrue(any(line.startswith("MB/s to completion: ") for line in run.summary), out)
        self.assertIn("stonewall: not reached: every rank finished before 600 s", run.summary)
        self.assertEqual(sorted(run.latency), ["max_ms", "median_ms", "p99_9_ms", "p99_ms", "stalls"])

    def test_a_read_log_is_labelled_as_a_read(self):
        with support.Scratch() as scratch:
            prefix = scratch.file("run")
            subprocess.run([support.vorlax_exe(), "B", prefix, "1024", "1", "1"], capture_output=True, check=True)
            done = subprocess.run([support.vorlax_read_exe(), "--latency", "--stall-ms", "1", "B", prefix, "1024",
                                   "1", "1"], capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            run = parse_text(done.stdout, "read.log")[0]
        self.assertEqual((run.label(), run.reading, run.done), ("B 1024K x1 read", True, True))
        self.assertEqual([(s.elapsed_ms, s.total_mb, s.sustained_mbps, s.incremental_mbps) for s in run.samples],
                         words_of_progress_lines(done.stdout, "read"))
        self.assertEqual((run.final().total_mb, [(c.thread, c.blocks) for c in run.completions]), (1024, [(0, 1024)]))
        self.assertEqual(run.latency["stalls"]["threshold_ms"], 1.0, done.stdout)


class HandMadeLogs(unittest.TestCase):
    def test_good_edge_logs(self):
        run = parse_text(GOOD)[0]
        self.assertEqual([s.elapsed_ms for s in run.samples], [1000, 2001, 2575])
        self.assertEqual([s.incremental_mbps for s in run.samples], [1790, 1791, 7452])
        self.assertEqual([(c.thread, c.elapsed_ms) for c in run.completions], [(1, 2001), (0, 2575)])
        self.assertEqual(run.label(), "U 1024K x2")

        mixed = GOOD.replace("each\n", "each\nvorlax: note: /dev/shm is memory-backed; these figures are memory "
                                       "speed, not a disk's\n", 1).replace("\n", "\r\n")
        self.assertEqual(parse_text(mixed)[0].messages[0][:28], "vorlax: note: /dev/shm is me")
        self.assertEqual(len(parse_text(mixed)[0].samples), 3)

        two = parse_text(GOOD + GOOD.replace("unbuffered 1024K", "buffered 64K"))
        self.assertEqual([r.label() for r in two], ["U 1024K x2", "B 64K x2"])

        # A run cut off (Ctrl-C) after whole lines: kept, not done.
        cut = parse_text(GOOD.split("thread 0")[0])[0]
        self.assertEqual((len(cut.samples), cut.done), (2, False))
        # No final newline after a whole last line; more than four places of seconds.
        late = "VORLAX: writing buffered 64K buffers in 1 threads up to 1 GB each\n" \
               "10000.250:  1024 MB written,    0 MB/s sustained,    0 MB/S incremental"
        self.assertEqual(parse_text(late)[0].samples[0].elapsed_ms, 10000250)

    def test_read_and_mpi_logs(self):
        read = parse_text(READ)[0]
        self.assertEqual((read.label(), [s.total_mb for s in read.samples]), ("U 1024K x2 read", [1790, 3581, 8192]))
        mpi = parse_text(MPI)[0]
        self.assertEqual((mpi.label(), mpi.ranks, mpi.hosts, mpi.done), ("B 1024K x2 on 3 ranks", 3, 2, True))
        self.assertEqual([(c.rank, c.thread, c.blocks, c.elapsed_ms) for c in mpi.completions],
                         [(2, 1, 1024, 2001), (0, 0, 1024, 2001), (0, 1, 1024, 2001), (1, 0, 3, 2500)])
        # Each rank's threads end when its summary row says (rank 0: 2.001 s), not at the next progress line.
        self.assertEqual([s.total_mb for s in mpi.samples], [1790, 3581, 6144])
        self.assertEqual(mpi.messages, [MPI.splitlines()[5]])
        self.assertEqual(failure_of(mpi.messages).kind, vorlax_log.FULL_DISK)
        self.assertEqual(mpi.summary, MPI.splitlines()[9:11])
        # Summary lines are an MPI log's only: in a vorlax log they are not VORLAX lines.
        plain = MPI.replace(", on 3 ranks of 2 hosts", "").replace("rank 2 ", "").replace("rank 0 ", "")
        with self.assertRaises(LogError):
            parse_text(plain.replace("rank 1 thread", "thread"))

    def test_closing_lines_of_options(self):
        stop = "vorlax: run stopped by SIGTERM: 8192 MB written; the test files stay as written: /x_00.BIN\n"
        stalled = dict(TIMED, stalls={"threshold_ms": 1.0, "count": 184, "longest": [{"ms": 12.5, "at_s": 0.0}]})
        cases = [  # name, text, the run's latency, its last summary lines, its shortfall
            ("--latency --stall-ms", GOOD.replace("DONE!", LATENCY + "DONE!"), stalled, [], None),
            ("none timed, no stalls", READ.replace("DONE!", "latency per block: no block timed\nno stalls of 100 ms "
                                                   "or more\nDONE!"),
             {"stalls": {"threshold_ms": 100.0, "count": 0, "longest": []}}, [], None),
            ("a stop", GOOD.replace("DONE!", stop + LATENCY.split("\n")[0] + "\nDONE!"), TIMED, [],
             "stopped by SIGTERM"),
            ("vorlax-mpi --seconds", MPI.replace("DONE!", STONEWALL + LATENCY.replace("(thread 0", "(rank 0, thread 0")
                                                 + "DONE!"), stalled, STONEWALL.split("\n")[:2],
             "failed: full disk"),
            ("not reached", MPI.replace("DONE!", "stonewall: not reached: every rank finished before 5 s\nDONE!"), None,
             ["stonewall: not reached: every rank finished before 5 s"], "failed: full disk"),
        ]
        for name, text, latency, summary, shortfall in cases:
            with self.subTest(name):
                run = parse_text(text)[0]
                self.assertEqual((run.latency, run.summary[len(run.summary) - len(summary):], run.shortfall()),
                                 (latency, summary, shortfall))

    def test_legends_never_repeat(self):
        one, other = parse_text(GOOD, "a/one.log"), parse_text(GOOD, "b/other.log")
        same_name = parse_text(GOOD, "c/one.log")
        cases = [
            (one + parse_text(READ, "r.log"), [], ["U 1024K x2", "U 1024K x2 read"]),
            (one + other, [], ["U 1024K x2 (one.log)", "U 1024K x2 (other.log)"]),
            (one + one, [], ["U 1024K x2 (one.log, run 1)", "U 1024K x2 (one.log, run 2)"]),
            (one + same_name, [], ["U 1024K x2 (a/one.log, run 1)", "U 1024K x2 (c/one.log, run 1)"]),
            (one + other, ["disk", "disk"], ["disk (one.log)", "disk (other.log)"]),
            (one + other, ["U 1024K x2"], ["U 1024K x2 (one.log)", "U 1024K x2 (other.log)"]),
            (parse_text(GOOD, "<stdin>") + one, [], ["U 1024K x2 (stdin)", "U 1024K x2 (one.log)"]),
        ]
        for runs, given, labels in cases:
            with self.subTest(labels=labels):
                self.assertEqual(unique_labels(runs, given), labels)

    def test_bad_logs_give_one_line_reasons(self):
        banner = "VORLAX: writing buffered 64K buffers in 1 threads up to 1 GB each\n"
        cases = [
            ("", "no banner line"),
            ("root:x:0:0:root:/root:/bin/bash\n", "not VORLAX output"),
            ("\x00\x01PNG junk", "line cut short"),
            ("Usage: VORLAX <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n", "usage text"),
            ("   1.000:   5 MB written,  5 MB/s sustained,  5 MB/S incremental\n" + banner, "no banner line before"),
            (banner + "thread 0 done! 16384\nDONE!\n", "has no progress line"),
            (banner + "DONE!\n" + banner, "has no progress line"),
            (GOOD[:-60], "line cut short"),
            (GOOD.replace("MB/S incremental", "MB/s incremental", 1), "not a VORLAX line"),
            (GOOD.replace("DONE!", "DONE! (really)"), "<test>:7: not a VORLAX line"),
            (GOOD.replace("DONE!", "latency per block: soon"), "<test>:7: not a VORLAX line"),
            (GOOD.replace("DONE!", STONEWALL), "<test>:7: not a VORLAX line"),  # an MPI log's only
            (GOOD.replace("thread 1 done! 4096\n   2.001:", "   2.001: thread 1 done! 4096\n"), "not a VORLAX line"),
        ]
        for text, reason in cases:
            with self.subTest(text=text[:40]):
                with self.assertRaises(LogError) as caught:
                    parse_text(text, "<test>")
                self.assertIn(reason, str(caught.exception))
                self.assertNotIn("\n", str(caught.exception))



class LineByLine(unittest.TestCase):
    """The sweep feeds a program's output to LogParser as it comes: each
    progress line's figures as soon as the line is whole, the same runs as
    parse_text at the end, and the messages even where the log goes wrong."""

    def feed(self, text):
        parser = LogParser("<test>")
        samples = [parser.feed(line) for line in text.splitlines(keepends=True)]
        return parser, samples

    def test_samples_arrive_with_their_lines_and_the_runs_match(self):
        for name, text in (("write", GOOD), ("read", READ), ("mpi", MPI)):
            with self.subTest(name):
                parser, samples = self.feed(text)
                runs = parser.finish()
                self.assertEqual(runs, parse_text(text, "<test>"))
                arrived = [(number, s.total_mb) for number, s in enumerate(samples, 1) if s]
                lines = text.splitlines()
                self.assertEqual([total for _, total in arrived], [s.total_mb for s in runs[0].samples])
                for number, total in arrived:
                    self.assertIn("%d MB" % total, lines[number - 1])

    def test_messages_are_kept_before_a_banner_and_after_a_bad_line(self):
        text = ("vorlax: note: before the banner\n" + GOOD.replace("DONE!", "garbage") +
                "vorlax-read: after the bad line\n")
        parser, _ = self.feed(text)
        self.assertEqual(parser.messages, ["vorlax: note: before the banner", "vorlax-read: after the bad line"])
        with self.assertRaises(LogError) as caught:
            parser.finish()
        self.assertIn("<test>:8: not a VORLAX line: 'garbage'", str(caught.exception))

    def test_a_last_line_without_its_end(self):
        for text, good in ((GOOD + "   9.000:     9999 MB written, 1111 MB/s sustained, 1 MB/S incremental", True),
                           (GOOD.rstrip("\n"), True), (GOOD + "thread 1 do", False)):
            with self.subTest(text=text[-20:]):
                parser, samples = self.feed(text)
                if good:
                    self.assertEqual(parser.finish(), parse_text(text, "<test>"))
                else:
                    self.assertRaisesRegex(LogError, "cut short", parser.finish)


if __name__ == "__main__":
    unittest.main()
