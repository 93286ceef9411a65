"""vorlax-sweep end to end: a small sweep on /dev/shm, a failing run, Ctrl-C
part way, and command lines it refuses."""

import csv
import io
import os
import signal
import subprocess
import time
import unittest

import support
import vorlax_sweep
from vorlax_log import Sample, parse_file


class Terminal(io.StringIO):
    def isatty(self):
        return True


def sweep(scratch, *args):
    return support.run_tool("vorlax-sweep", "--vorlax", support.vorlax_exe(), "-o", scratch.file("out"), *args)


class Sweeps(unittest.TestCase):
    def test_small_sweep_tabulates_each_final_line_and_cleans_up(self):
        with support.Scratch() as scratch:
            target = scratch.file("disk")
            os.mkdir(target)
            done = sweep(scratch, "-m", "B,U", "-b", "1024", "-t", "1,2", target)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(os.listdir(target), [], "test files must be removed after each run")
            self.assertIn("vorlax-sweep: run 1 of 4 (3 left after it): B 1024K x1, 1 GB each\n", done.stderr)
            self.assertIn("vorlax-sweep: run 4 of 4: U 1024K x2: ", done.stderr)
            out = scratch.file("out")
            with open(os.path.join(out, "results.csv")) as table:
                rows = list(csv.DictReader(table))
            self.assertEqual([(r["mode"], r["block_kb"], r["threads"]) for r in rows],
                             [("B", "1024", "1"), ("B", "1024", "2"), ("U", "1024", "1"), ("U", "1024", "2")])
            logs = sorted(os.listdir(os.path.join(out, "logs")))
            self.assertEqual(len(logs), 4)
            for row, log in zip(rows, logs):
                final = parse_file(os.path.join(out, "logs", log))[-1].final()
                self.assertEqual((int(row["mb_written"]), int(row["sustained_mbps"]), row["exit_status"]),
                                 (final.total_mb, final.sustained_mbps, "0"))
                self.assertEqual(int(row["mb_written"]), 1024 * int(row["threads"]))
            with open(os.path.join(out, "results.md")) as table:
                markdown = table.read()
            self.assertEqual(done.stdout.split("\nwrote ")[0], markdown)
            self.assertIn("| U | 1024 | 2 | 1 | 2048 | %s | %s | ok |" % (rows[3]["elapsed_s"],
                                                                        rows[3]["sustained_mbps"]), markdown)
            self.assertIn("U 1024K x1, U 1024K x2: `vorlax: note: %s is memory-backed" % target, markdown)
            self.assertEqual(support.svg_size_pt(os.path.join(out, "results.svg")), (720.0, 403.2))

    def test_keep_and_a_failing_run(self):
        with support.Scratch() as scratch:
            done = sweep(scratch, "-m", "B", "-b", "64", "-t", "1", "--keep", "--chart", "bars.png", scratch.path)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(os.path.getsize(scratch.file("vorlax-sweep_00.BIN")), 1 << 30)
            self.assertEqual(support.png_size(scratch.file("out/bars.png")), (1000, 560))
            os.remove(scratch.file("vorlax-sweep_00.BIN"))
            os.symlink("/dev/full", scratch.file("vorlax-sweep_00.BIN"))
            done = sweep(scratch, "-m", "B", "-b", "64", "-t", "1", scratch.path)
            self.assertEqual(done.returncode, 1)
            # 0 MB, or no figures when vorlax printed no progress line at all.
            self.assertRegex(done.stdout, r"\| B \| 64 \| 1 \| 1 \| (0 \| [\d.]+ \| 0|\| \|) \| failed \(exit 1\) \|")
            self.assertIn("write failed after 0 blocks: No space left on device", done.stdout)
            self.assertFalse(os.path.lexists(scratch.file("vorlax-sweep_00.BIN")))

    def test_ctrl_c_stops_vorlax_and_keeps_the_finished_runs(self):
        with support.Scratch() as scratch:
            # Three-second runs into /dev/null, kept so every run finds them.
            for index in range(2):
                os.symlink("/dev/null", scratch.file("vorlax-sweep_%02d.BIN" % index))
            command = [os.path.join(support.TOOLS, "vorlax-sweep"), "--vorlax", support.vorlax_exe(), "--keep",
                       "-o", scratch.file("out"), "-m", "B", "-b", "1,2,3", "-t", "2", scratch.path]
            sweeping = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            for line in sweeping.stderr:
                if line.startswith("vorlax-sweep: run 2 of 3 ("):
                    break
            time.sleep(0.5)
            sweeping.send_signal(signal.SIGINT)
            start = time.monotonic()
            out, err = sweeping.communicate(timeout=60)
            self.assertLess(time.monotonic() - start, 10, "vorlax must be stopped, not waited for")
            self.assertEqual(sweeping.returncode, 130)
            self.assertEqual(err, "vorlax-sweep: interrupted during run 2 of 3; the table holds the 1 finished\n")
            self.assertNotIn("Traceback", err)
            with open(scratch.file("out/results.csv")) as table:
                self.assertEqual(len(table.read().splitlines()), 2)
            self.assertIn("| B | 1 | 2 | 1 | 2048 |", out)
            with open(scratch.file("out/logs/02-B-2K-2t.log")) as log:
                self.assertNotIn("DONE!", log.read())

    def test_progress_bar_on_a_terminal(self):
        screen = Terminal()
        progress = vorlax_sweep.Progress(4, screen)
        progress.start(3, vorlax_sweep.Settings("U", 1024, 2, 1))
        progress.sample(Sample(1000, 1024, 1024, 1024))  # half of 2 x 1 GB: 2.5 of 4 runs done
        self.assertTrue(screen.getvalue().endswith(
            "\r\033[K[%-30s] run 3/4, 1 left: U 1024K x2   1.0 s  1024 MB/s" % ("#" * 18)), repr(screen.getvalue()))
        progress.finish(vorlax_sweep.Result(progress.settings, 0, Sample(2000, 2048, 1024, 1024), "log"))
        self.assertTrue(screen.getvalue().endswith(
            "\r\033[Kvorlax-sweep: run 3 of 4: U 1024K x2: 1024 MB/s sustained over 2.0 s, ok\n"))

    def test_refused_command_lines(self):
        with support.Scratch() as scratch:
            cases = [
                (["-b", "0", scratch.path], 2, "block sizes in KB must be 1 to 32768"),
                (["-t", "1,100", scratch.path], 2, "thread counts must be 1 to 99"),
                (["-m", "B,X", scratch.path], 2, "modes are B (buffered) and U (unbuffered)"),
                ([scratch.file("absent")], 1, "absent: not a folder"),
                (["--chart", "x.jpg", scratch.path], 1, "must end in .svg or .png"),
            ]
            for args, status, message in cases:
                with self.subTest(args=args):
                    done = sweep(scratch, *args)
                    self.assertEqual(done.returncode, status)
                    self.assertIn(message, done.stderr)
                    self.assertNotIn("Traceback", done.stderr)
            done = support.run_tool("vorlax-sweep", "--vorlax", scratch.file("nothing"), scratch.path)
            self.assertEqual(done.returncode, 1)
            self.assertIn("not an executable program", done.stderr)
            self.assertEqual(os.listdir(scratch.path), [])


if __name__ == "__main__":
    unittest.main()
