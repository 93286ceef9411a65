"""The log reader: real logs give exactly their numbers; hand-made edge logs
give runs or one-line reasons."""

import unittest

import support
from vorlax_log import LogError, parse_text

GOOD = """VORLAX: writing unbuffered 1024K buffers in 2 threads up to 4 GB each
   1.000:     1790 MB written, 1790 MB/s sustained, 1790 MB/S incremental
   2.001: thread 1 done! 4096
    3581 MB written, 1789 MB/s sustained, 1791 MB/S incremental
thread 0 done! 4096
   2.575:     8192 MB written, 3181 MB/s sustained, 7452 MB/S incremental
DONE!
"""


class RealLogs(unittest.TestCase):
    def test_parsed_series_are_the_numbers_in_the_log(self):
        with support.Scratch() as scratch:
            path, out = support.sink_run_log(scratch)
            runs = parse_text(out, path)
        self.assertEqual(len(runs), 1)
        run = runs[0]
        self.assertEqual((run.mode, run.block_kb, run.threads, run.size_gb, run.done), ("B", 1024, 2, 1, True))
        # Read the figures back a second, simpler way: by words.
        expected = []
        for line in out.splitlines():
            words = line.split()
            if len(words) == 10 and words[2:4] == ["MB", "written,"] and words[9] == "incremental":
                seconds, millis = words[0].rstrip(":").split(".")
                expected.append((int(seconds) * 1000 + int(millis), int(words[1]), int(words[4]), int(words[7])))
        self.assertGreaterEqual(len(expected), 2, out)
        self.assertEqual([(s.elapsed_ms, s.total_mb, s.sustained_mbps, s.incremental_mbps) for s in run.samples],
                         expected)
        self.assertEqual(run.final().total_mb, 2048)
        self.assertEqual(sorted((c.thread, c.blocks) for c in run.completions), [(0, 1024), (1, 1024)])
        # A thread is done by the progress line after its completion line.
        self.assertTrue(all(c.elapsed_ms in [s.elapsed_ms for s in run.samples] for c in run.completions))
        self.assertEqual(max(c.elapsed_ms for c in run.completions), run.final().elapsed_ms)


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
        ]
        for text, reason in cases:
            with self.subTest(text=text[:40]):
                with self.assertRaises(LogError) as caught:
                    parse_text(text, "<test>")
                self.assertIn(reason, str(caught.exception))
                self.assertNotIn("\n", str(caught.exception))


if __name__ == "__main__":
    unittest.main()
