"""vorlax-sweep end to end: a small sweep on /dev/shm, a failing run, Ctrl-C
part way, and command lines it refuses."""

import csv
import io
import json
import os
import signal
import statistics
import subprocess
import unittest

import support
import vorlax_results
import vorlax_runner
import vorlax_sweep
from vorlax_progress import Progress
from vorlax_log import Sample, parse_file


class Terminal(io.StringIO):
    def isatty(self):
        return True


def sweep(scratch, *args, env=None):
    return support.run_tool("vorlax-sweep", "--vorlax", support.vorlax_exe(), "-o", scratch.file("out"), "--force",
                            *args, env=env)


def table_rows(markdown):
    """The cells of results.md's table, as lists of texts."""
    rows = [line.strip("|").split(" | ") for line in markdown.splitlines() if line.startswith("| ")]
    return [[field.strip() for field in row] for row in rows[1:]]


class Sweeps(unittest.TestCase):
    def test_repeated_sweep_with_reads_tabulates_its_runs_and_cleans_up(self):
        with support.Scratch(unbuffered=True) as scratch:
            if scratch.path is None:
                self.skipTest("no scratch folder takes O_DIRECT files (mode U)")
            target = scratch.file("disk")
            os.mkdir(target)
            done = sweep(scratch, "-m", "B,U", "-b", "1024", "-t", "1", "--runs", "2",
                         "--vorlax-read", support.vorlax_read_exe(), target)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(os.listdir(target), [], "test files must be removed after each run")
            self.assertIn("vorlax-sweep: run 1 of 4 (3 left after it): B 1024K x1, 1 GB each, repeat 1 of 2\n",
                          done.stderr)
            self.assertRegex(done.stderr, r"run 4 of 4: U 1024K x1: \d+ MB/s sustained over [\d.]+ s, ok; "
                                          r"read \d+ MB/s over [\d.]+ s, pass\n")
            out = scratch.file("out")
            with open(os.path.join(out, "results.csv")) as table:
                rows = list(csv.DictReader(table))
            with open(os.path.join(out, "results.json")) as document:
                document = json.load(document)
            with open(os.path.join(out, "results.md")) as table:
                markdown = table.read()
            with open(os.path.join(out, "report.html")) as page:
                self.assertIn("sweep of %s" % os.path.realpath(target), page.read())
            self.assertEqual(done.stdout.split("\nwrote ")[0], markdown)
            # Runs round by round; each run's figures are its logs' last lines.
            runs = document["runs"]
            self.assertEqual([(r["mode"], r["repeat"]) for r in runs], [("B", 1), ("U", 1), ("B", 2), ("U", 2)])
            for run in runs:
                for kind, verb in (("write", "written"), ("read", "read")):
                    final = parse_file(os.path.join(out, run[kind]["log"]))[-1].final()
                    self.assertEqual((run[kind]["mb"], run[kind]["sustained_mbps"], run[kind]["exit_status"]),
                                     (final.total_mb, final.sustained_mbps, 0))
                self.assertEqual((run["write"]["mb"], run["read"]["verdict"]), (1024, "pass"))
            # The JSON holds what the tables hold: its cells are the CSV's and the Markdown's rows, and
            # its runs give their medians, bests and spreads.
            self.assertEqual([{k: v if isinstance(v, str) else vorlax_results.figure_text(v) for k, v in cell.items()}
                              for cell in document["cells"]], rows)
            for cell, line in zip(document["cells"], table_rows(markdown)):
                mine = [r for r in runs if r["mode"] == cell["mode"]]
                for kind in ("write", "read"):
                    values = [r[kind]["sustained_mbps"] for r in mine]
                    self.assertEqual((cell[kind + "_median_mbps"], cell[kind + "_best_mbps"]),
                                     (statistics.median(values), max(values)))
                    self.assertAlmostEqual(cell[kind + "_spread_pct"],
                                           100 * (max(values) - min(values)) / statistics.median(values), delta=0.5)
                self.assertEqual(line, [cell["mode"], "1024", "1", "1", "2"] + [
                    vorlax_results.figure_text(cell[key]) + ("%" if key.endswith("pct") else "") for key in
                    ("write_median_mbps", "write_best_mbps", "write_spread_pct", "write_p50_ms", "write_p99_ms",
                     "write_p99_9_ms", "read_median_mbps", "read_best_mbps", "read_spread_pct")] + ["pass", "ok"])
                # Block times from each run's record beside its log: the median of the runs' percentiles.
                for key, name in (("write_p50_ms", "median_ms"), ("write_p99_9_ms", "p99_9_ms")):
                    values = []
                    for run in mine:
                        with open(os.path.join(out, os.path.splitext(run["write"]["log"])[0] + ".json")) as text:
                            values.append(json.load(text)["latency"][name])
                    self.assertAlmostEqual(cell[key], statistics.median(values), delta=0.01 * cell[key])
            # What was measured, in all three places.
            measured = document["measured"]
            self.assertEqual((measured["folder"], measured["cores"]), (os.path.realpath(target), os.cpu_count()))
            self.assertIn(measured["vorlax_version"], subprocess.run([support.vorlax_exe(), "--version"],
                                                                     capture_output=True, text=True).stdout)
            self.assertGreater(measured["memory_mb"], 0)
            self.assertIn("- folder: %s, %s on %s" % (measured["folder"], measured["fs_type"], measured["device"]),
                          markdown)
            with open(os.path.join(out, "results.svg")) as chart:
                self.assertIn("%s: %s on %s" % (measured["folder"], measured["fs_type"], measured["device"]),
                              chart.read())
            self.assertEqual(support.svg_size_pt(os.path.join(out, "results.svg")), (720.0, 403.2))

    def test_keep_a_failing_write_a_failing_read_and_no_reader(self):
        with support.Scratch() as scratch:
            # vorlax alone in a folder: no vorlax-read beside it, so writes only, with a note.
            alone = scratch.file("bin")
            os.mkdir(alone)
            os.symlink(support.vorlax_exe(), os.path.join(alone, "vorlax"))
            done = support.run_tool("vorlax-sweep", "--vorlax", os.path.join(alone, "vorlax"), "-o",
                                    scratch.file("out"), "-m", "B", "-b", "64", "-t", "1", "--keep", "--chart",
                                    "bars.png", scratch.path)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertIn("vorlax-sweep: note: no vorlax-read beside %s/vorlax: writes only" % alone, done.stderr)
            self.assertIn("- reads: not measured: no vorlax-read beside", done.stdout)
            self.assertRegex(done.stdout, r"\| B \| 64 \| 1 \| 1 \| 1 \| \d+ \| \d+ \|  \| [\d.]+ \| [\d.]+ \| [\d.]+ \| ok \|")
            self.assertEqual(os.path.getsize(scratch.file("vorlax-sweep_00.BIN")), 1 << 30)
            self.assertEqual(support.png_size(scratch.file("out/bars.png")), (1000, 560))
            # A read that finds something wrong: fail, and the sweep fails.
            done = sweep(scratch, "-m", "B", "-b", "64", "-t", "1", "--vorlax-read", support.STUB_READ,
                         scratch.path, env={"VORLAX_STUB_READ_FAIL": "1"})
            self.assertEqual(done.returncode, 1)
            self.assertRegex(done.stdout, r"\| B \| 64 \| 1 \| 1 \| 1 \| \d+ \| \d+ \|  \|( [\d.]+ \|){3}  \|  \|  \| fail \| ok \|")
            self.assertIn("vorlax-read: %s: block 3" % scratch.file("vorlax-sweep_00.BIN"), done.stdout)
            # A write that fails is not read back.
            os.symlink("/dev/full", scratch.file("vorlax-sweep_00.BIN"))
            done = sweep(scratch, "-m", "B", "-b", "64", "-t", "1", "--vorlax-read", support.STUB_READ,
                         scratch.path)
            self.assertEqual(done.returncode, 1)
            self.assertRegex(done.stdout, r"\| B \| 64 \| 1 \| 1 \| 1 \|  \|  \|  \|  \|  \|  \| failed \(exit 1\): full disk \|")
            self.assertIn("write failed after 0 blocks: No space left on device", done.stdout)
            self.assertFalse(os.path.lexists(scratch.file("vorlax-sweep_00.BIN")))
            with open(scratch.file("out/results.json")) as document:
                self.assertEqual(json.load(document)["runs"][0]["read"], None)

    def test_ctrl_c_and_sigterm_stop_vorlax_and_keep_the_finished_runs(self):
        for number, status, said in ((signal.SIGINT, 130, "interrupted (Ctrl-C)"),
                                     (signal.SIGTERM, 143, "terminated (SIGTERM)")):
            with self.subTest(signal=number):
                self.stop_part_way(number, status, said)

    def stop_part_way(self, number, status, said):
        with support.Scratch() as scratch:
            # A FIFO as the test file, drained for run 1's 1 GB and held after: run 2 waits in its
            # first write until the interrupt stops it, however fast or busy the machine.
            fifos = support.FifoFiles(scratch.file("vorlax-sweep"), 1, "drain", drain_bytes=1 << 30)
            try:
                command = [os.path.join(support.TOOLS, "vorlax-sweep"), "--vorlax", support.vorlax_exe(), "--keep",
                           "--no-read", "-o", scratch.file("out"), "-m", "B", "-b", "1024,2048,4096", "-t", "1",
                           "-s", "1", scratch.path]
                sweeping = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                self.assertTrue(fifos.wait_held(), "run 2 never wrote to its test file")
                sweeping.send_signal(number)
                out, err = sweeping.communicate(timeout=120)
            finally:
                fifos.close()
            self.assertEqual(sweeping.returncode, status, err)
            self.assertTrue(err.endswith("vorlax-sweep: " + said + " during run 2 of 3; the table holds the 1 "
                                         "finished; the stopped run's log (logs/02-B-2048K-1t.log) was removed: "
                                         "it held a run cut short\n"), err)
            self.assertNotIn("Traceback", err)
            with open(scratch.file("out/results.csv")) as table:
                self.assertEqual(len(table.read().splitlines()), 2)
            self.assertIn("| B | 1024 | 1 | 1 | 1 |", out)
            self.assertIn("- partial: %s during run 2 of 3; 1 of 3 runs done;" % said, out)
            self.assertEqual(sorted(os.listdir(scratch.file("out/logs"))), ["01-B-1024K-1t.json", "01-B-1024K-1t.log"])
            with open(scratch.file("out/results.json")) as document:
                found = json.load(document)
            self.assertEqual((found["partial"], found["runs_done"], found["plan"]["blocks_kb"],
                              found["plan"]["stopped"]), (True, 1, [1024, 2048, 4096], said + " during run 2 of 3"))
            self.assertEqual(found["plan"]["programs"]["vorlax"]["path"], support.vorlax_exe())
            with open(scratch.file("out/results.svg")) as chart:
                self.assertIn("stopped part way: %s during run 2 of 3" % said, chart.read())

    def test_refusals_and_failures_of_the_place(self):
        with support.Scratch() as scratch:
            # An earlier sweep in -o: refused without --force.
            os.makedirs(scratch.file("out/logs"))
            with open(scratch.file("out/logs/01-B-64K-1t.log"), "w"):
                pass
            done = support.run_tool("vorlax-sweep", "--vorlax", support.vorlax_exe(), "-o", scratch.file("out"),
                                    "-m", "B", "-b", "64", "-t", "1", scratch.path)
            self.assertEqual((done.returncode, done.stderr), (2, "vorlax-sweep: %s holds an earlier sweep (logs/): "
                             "name a new folder with -o, or add --force to replace it\n" % scratch.file("out")))
            # A results' folder that cannot be written, or a file: one line with the fix, before the first run.
            with open(scratch.file("plain"), "w"):
                pass
            for out, reason in (("/proc/vorlax-sweep-out", "No such file or directory"),
                                (scratch.file("plain"), "it is a file, not a folder")):
                done = support.run_tool("vorlax-sweep", "--vorlax", support.vorlax_exe(), "-o", out, "-m", "B",
                                        "-b", "64", "-t", "1", scratch.path)
                self.assertEqual((done.returncode, done.stderr, done.stdout), (2, "vorlax-sweep: %s: cannot write the "
                                 "results there: %s; name another folder with -o\n" % (out, reason), ""))
            os.remove(scratch.file("plain"))
            # No matplotlib: said before the first run, with --no-chart offered.
            fake = scratch.file("fake")
            os.makedirs(os.path.join(fake, "matplotlib"))
            with open(os.path.join(fake, "matplotlib", "__init__.py"), "w") as module:
                module.write("raise ImportError('not here')\n")
            done = sweep(scratch, "-m", "B", "-b", "64", "-t", "1", scratch.path, env={"PYTHONPATH": fake})
            self.assertEqual(done.returncode, 2)
            self.assertIn("matplotlib is missing, so no chart can be drawn: install python3-matplotlib", done.stderr)
            self.assertIn("add --no-chart", done.stderr)
            self.assertEqual(sorted(os.listdir(scratch.path)), ["fake", "out"])
            done = sweep(scratch, "-m", "B", "-b", "64", "-t", "1", "--no-chart", "--no-read", scratch.path,
                         env={"PYTHONPATH": fake})
            self.assertEqual(done.returncode, 0, done.stderr)
            # A B sweep on tmpfs says so before its first run, and its chart says what it measured.
            self.assertIn("vorlax-sweep: note: %s is on tmpfs, a memory-backed file system: every cell measures "
                          "memory, not a disk\n" % os.path.realpath(scratch.path), done.stderr.split("run 1 of")[0])
            # A program that printed no progress line: a failed row that says why.
            done = sweep(scratch, "-m", "B", "-b", "64", "-t", "1", "--no-read", "--vorlax", "/bin/true",
                         scratch.path)
            self.assertEqual(done.returncode, 1, done.stderr)
            self.assertIn("| failed: no progress line (%s: not VORLAX output (no banner line)) |"
                          % scratch.file("out/logs/01-B-64K-1t.log"), done.stdout)
            done = sweep(scratch, "-m", "B", "-b", "64", "-t", "1", "--no-read", scratch.path)
            with open(scratch.file("out/results.svg")) as chart:
                self.assertIn("B x1 (memory)", chart.read())
            with open(scratch.file("out/results.json")) as document:
                measured = json.load(document)["measured"]
            self.assertEqual((measured["host"], measured["kernel"]), (os.uname().nodename, os.uname().release))
            self.assertIn("rw", measured["mount_options"])

    def test_a_read_only_mount_gives_a_failed_row(self):
        with support.Scratch() as scratch:
            mounted = scratch.file("vorlax-fill-ro")
            os.mkdir(mounted)
            command = [os.path.join(support.TOOLS, "vorlax-sweep"), "--vorlax", support.vorlax_exe(), "-o",
                       scratch.file("out"), "-m", "U,B", "-b", "1024", "-t", "1", mounted]
            out, status = support.program_output(command[0], command[1:], ("tmpfs", "ro", mounted))
        self.assertEqual(status, 1, out)
        self.assertNotIn("Traceback", out)
        self.assertRegex(out, r"\| B \| 1024 \| 1 \| 1 \| 1 \|  \|  \|  \| .*failed \(exit 1\): read-only "
                              r"file system \|")
        self.assertIn("wrote %s" % scratch.file("out/results.md"), out)
        self.assertIn("vorlax-sweep: note: %s: cannot write there (read-only file system): every run will fail"
                      % os.path.realpath(mounted), out.split("run 1 of")[0])
        self.assertNotIn("page cache", out.split("run 1 of")[0])

    def test_what_is_said_of_memory_before_the_first_run(self):
        from vorlax_machine import Measured
        from vorlax_sweep_chart import memory_notes
        cases = [  # modes, threads, file system, GB free, why unwritable: the note (or none)
            (["B", "U"], [1, 2], "ext4", 100, None, "they will show the page cache, not the disk; -s 23 or more "
                                                     "lets every B cell reach the disk"),
            (["B", "U"], [1, 2], "ext4", 5.5, None, "they will show the page cache, not the disk; the disk (5.5 GB "
                                                     "free) is too small for the B cells to reach it: -s 23 would "
                                                     "need 46 GB; U cells measure the disk"),
            (["B"], [1], "ext4", 30, "read-only file system", "/d: cannot write there (read-only file system): "
                                                              "every run will fail; name a folder you can write"),
            (["B"], [1], "tmpfs", 30, None, "/d is on tmpfs, a memory-backed file system"),
            (["U"], [1, 2], "ext4", 30, None, None),
        ]
        for modes, threads, fs_type, free_gb, unwritable, note in cases:
            with self.subTest(modes=modes, fs=fs_type, free=free_gb, unwritable=unwritable):
                measured = Measured("/d", fs_type, "/dev/sda1", "Disk X", "2026-12-07", "VORLAX 1.0.0", 1, 0, "")
                said = memory_notes(modes, threads, 1, measured, 22.3, free_gb, unwritable)
                self.assertEqual(len(said), int(note is not None), said)
                if note:
                    self.assertIn(note, said[0])

    def test_progress_bar_on_a_terminal(self):
        screen = Terminal()
        progress = Progress(4, 2, screen)
        settings = vorlax_runner.Settings("U", 1024, 2, 1)
        progress.start(3, settings)
        progress.phase("read")
        progress.sample(Sample(1000, 1024, 1024, 1024))  # written, half read back: 2.75 of 4 runs done
        self.assertTrue(screen.getvalue().endswith(
            "\r\033[K[%-30s] run 3/4, 1 left: U 1024K x2 read   1.0 s  1024 MB/s" % ("#" * 20)),
            repr(screen.getvalue()))
        write = vorlax_runner.Pass(0, Sample(2000, 2048, 1024, 1024), "log")
        progress.finish(vorlax_sweep.Result(settings, 1, write, vorlax_runner.Pass(1, Sample(500, 2048, 4096, 0), "")))
        self.assertTrue(screen.getvalue().endswith(
            "\r\033[Kvorlax-sweep: run 3 of 4: U 1024K x2: 1024 MB/s sustained over 2.0 s, ok; "
            "read 4096 MB/s over 0.5 s, fail\n"))

    def test_refused_command_lines(self):
        with support.Scratch() as scratch:
            cases = [
                (["-b", "0", scratch.path], 2, "block sizes in KB must be 1 to 32768"),
                (["-t", "1,100", scratch.path], 2, "thread counts must be 1 to 99"),
                (["-m", "B,X", scratch.path], 2, "modes are B (buffered) and U (unbuffered)"),
                ([scratch.file("absent")], 2, "absent: not a folder"),
                (["--chart", "x.jpg", scratch.path], 2, "must end in .svg or .png"),
                (["--runs", "0", scratch.path], 2, "runs per cell must be 1 to 99"),
                (["--vorlax-read", scratch.file("none"), scratch.path], 2, "name the vorlax-read binary"),
            ]
            for args, status, message in cases:
                with self.subTest(args=args):
                    done = sweep(scratch, *args)
                    self.assertEqual(done.returncode, status)
                    self.assertIn(message, done.stderr)
                    self.assertNotIn("Traceback", done.stderr)
            done = support.run_tool("vorlax-sweep", "--vorlax", scratch.file("nothing"), scratch.path)
            self.assertEqual(done.returncode, 2)
            self.assertIn("not an executable program", done.stderr)
            self.assertEqual(os.listdir(scratch.path), [])


if __name__ == "__main__":
    unittest.main()
