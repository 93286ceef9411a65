"""vorlax-fill without a disk to fill: its plan, its refusals, its status
line, its record of a stopped fill, and vorlax-plot --phases on a log.
The fills themselves run on loop devices in tests/tools/fill_e2e.py."""

import io
import json
import os
import unittest

import support
import vorlax_fill as fills
from vorlax_fill_report import json_document, markdown
from vorlax_log import Sample, parse_text
from vorlax_machine import Measured
from vorlax_phases import analyse_runs
from vorlax_progress import Status
from vorlax_runner import Pass, Settings

GIB = 1 << 30


class Terminal(io.StringIO):
    def isatty(self):
        return True


def step_log(fast_s=20, slow_s=40, fast=2000, slow=500):
    lines = ["VORLAX: writing unbuffered 1024K buffers in 1 threads up to 63 GB each"]
    mb = 0
    for second in range(1, fast_s + slow_s + 1):
        rate = fast if second <= fast_s else slow
        mb += rate
        lines.append("%4d.000: %8d MB written, %4d MB/s sustained, %4d MB/S incremental" % (
            second, mb, mb // second, rate))
    return "\n".join(lines + ["thread 0 done! %d" % (63 * 1024), "DONE!"]) + "\n"


class Plans(unittest.TestCase):
    def test_plan_leaves_the_margin_and_splits_into_runs(self):
        cases = [  # free GiB, file system GiB, threads, --size, largest file: runs' GB per file
            (10.5, 20, 1, None, 63, [9]),              # margin 1 GiB
            (300.5, 1000, 1, None, 63, [63, 63, 63, 63, 38]),   # margin 1 % (10 GiB)
            (300.5, 1000, 2, None, 63, [63, 63, 19]),  # 290 GB in pairs of files; 0 left
            (10.5, 20, 4, None, 63, [2]),              # 9 GB: 8 in 4 files, 1 GB left out
            (10.5, 20, 1, 3, 63, [3]),                 # --size writes less
            (10.5, 20, 1, 30, 63, [9]),                # but never more than the free space
            (10.5, 20, 1, None, 2, [2, 2, 2, 2, 1]),   # small files
        ]
        for free, size, threads, size_gb, largest, runs in cases:
            with self.subTest(free=free, threads=threads, size=size_gb):
                plan = fills.make_plan(int(free * GIB), size * GIB, threads, 1024, size_gb, largest)
                self.assertEqual(plan.run_gb, runs)
                self.assertLessEqual(plan.total_gb() * GIB, free * GIB - max(GIB, size * GIB // 100))
        refusals = [  # free GiB, threads, --size: what the line blames and what fits
            (1.9, 1, None, "less than one run of 1 x 1 GB; free some space$"),
            (2.5, 2, None, "less than one run of 2 x 1 GB; free some space or use --threads 1$"),
            (2.5, 2, 1, "^--size 1 is less than one run of 2 x 1 GB .*: use --threads 1$"),
            (8, 2, 1, "^--size 1 is less than one run of 2 x 1 GB .*: use --size 2 or more, or --threads 1$"),
            (0, 1, None, "0.00 GB free"),
            (8, 3, 2, "^--size 2 is less than one run of 3 x 1 GB .*: use --size 3 or more, or --threads 2 or fewer$"),
        ]
        for free, threads, size_gb, reason in refusals:
            with self.subTest(free=free, threads=threads, size=size_gb):
                with self.assertRaisesRegex(fills.Refusal, reason):
                    fills.make_plan(int(free * GIB), 100 * GIB, threads, 1024, size_gb)
        plan = fills.make_plan(int(300.5 * GIB), 1000 * GIB, 1, 1024)
        self.assertEqual(fills.plan_text(plan, "/mnt/ssd", Settings("U", 1024, 1, 0)),
                         "will write 290 GB in /mnt/ssd, leaving 10.5 GB of the 300.5 GB free (at least the 10.0 GB "
                         "margin; 0.5 GB more, as vorlax writes whole GB in each file: a change of speed there is "
                         "not seen), in 5 runs of vorlax U 1024K x1, up to 63 GB per file; roughly 5 min at 1000 MB/s, "
                         "49 min at 100 MB/s")
        capped = fills.make_plan(int(10.5 * GIB), 20 * GIB, 2, 1024, 99999)
        self.assertIn("; --size 99999 is more than that: the free space less the margin, in whole GB per thread's "
                      "file, allows 8 GB;", fills.plan_text(capped, "/tmp", Settings("U", 1024, 2, 0)))
        cases = [  # free GiB, threads, --size: what the plan says of the space left
            (2.7, 1, None, "leaving 1.7 GB of the 2.7 GB free (at least the 1.0 GB margin; 0.7 GB more, as vorlax "
                           "writes whole GB in each file: a change of speed there is not seen)"),
            (2.7, 1, 2, "0.7 GB more, as vorlax writes whole GB in each file: a change of speed there is not seen), "
                        "in 1 run of vorlax U 1024K x1, up to 1 GB per file; --size 2 is more than that: the free "
                        "space less the margin, in whole GB per file, allows 1 GB;"),
            (10.5, 4, None, "1.5 GB more, as vorlax writes whole GB in each of the 4 threads' files"),
            (3.0, 1, None, "leaving 1.0 GB of the 3.0 GB free (at least the 1.0 GB margin), in"),
            (10.7, 1, 3, "leaving 7.7 GB of the 10.7 GB free (at least the 1.0 GB margin), in"),
        ]
        for free, threads, size_gb, said in cases:
            with self.subTest(free=free, threads=threads, size=size_gb):
                plan = fills.make_plan(int(free * GIB), 20 * GIB, threads, 1024, size_gb)
                self.assertIn(said, fills.plan_text(plan, "/mnt", Settings("U", 1024, threads, 0)))

    def test_the_system_disk_needs_a_size(self):
        cases = [  # --size, what the folder's file system holds, free GiB: the refusal or None
            (None, ["/"], 80, "/tmp is on the file system that holds /: the system and other programs need that "
                              "space, so a fill there needs --size; vorlax-fill --size 70 /tmp leaves 10 % of it free"),
            (None, ["/", "your home"], 5, "holds / and your home: .*less than 10 % of it is free"),
            (None, [], 80, None), (20, ["/"], 80, None)]
        for size_gb, held, free, refusal in cases:
            with self.subTest(size=size_gb, held=held):
                if refusal is None:
                    fills.check_system_disk("/tmp", size_gb, held, free * GIB, 100 * GIB)
                else:
                    self.assertRaisesRegex(fills.Refusal, refusal, fills.check_system_disk, "/tmp", size_gb,
                                           held, free * GIB, 100 * GIB)

    def test_refusals_exit_2_before_a_byte_is_written(self):
        with support.Scratch() as scratch:
            cases = [
                ([scratch.file("absent")], "absent: no such folder"),
                ([scratch.file("plain")], "plain: not a folder"),
                (["--mode", "X", scratch.path], "the mode is B (buffered) or U (unbuffered)"),
                (["--threads", "0", scratch.path], "the thread count must be 1 to 99"),
                (["--read", "--vorlax-read", scratch.file("none"), scratch.path], "name the vorlax-read binary"),
            ]
            if os.path.realpath(scratch.path).startswith("/dev/shm/"):
                cases.append(([scratch.path], "a memory-backed file system (tmpfs): there the memory is the cache"))
            with open(scratch.file("plain"), "w"):
                pass
            for args, message in cases:
                with self.subTest(args=args):
                    done = support.run_tool("vorlax-fill", "--vorlax", support.vorlax_exe(), "--out",
                                            scratch.file("out"), *args)
                    self.assertEqual(done.returncode, 2 if "vorlax-read" not in message else 1, done.stderr)
                    self.assertIn(message, done.stderr)
                    self.assertNotIn("Traceback", done.stderr)
                    self.assertEqual(done.stdout, "")
            self.assertEqual(os.listdir(scratch.path), ["plain"])

    def test_status_line_on_a_terminal_and_a_line_per_run_otherwise(self):
        screen = Terminal()
        status = Status(4, 2, screen)
        status.start(0, Settings("U", 1024, 1, 2))
        status.sample(Sample(2000, 2048, 1024, 1024))
        status.start(1, Settings("U", 1024, 1, 2))
        status.sample(Sample(1000, 512, 512, 512))
        self.assertTrue(screen.getvalue().endswith(
            "\r\033[Kwrite: 2.5 of 4 GB, run 2 of 2, now 512 MB/s, so far 853 MB/s, 2 s left"), repr(screen.getvalue()))
        plain = io.StringIO()
        status.stream, status.terminal = plain, False
        status.sample(Sample(3000, 2048, 682, 768))
        status.done(fills.FillRun("p", Settings("U", 1024, 1, 2), Pass(0, Sample(3000, 2048, 682, 768), "log")))
        self.assertEqual(plain.getvalue(), "vorlax-fill: run 2 of 2: 2 GB per file, 2048 MB at 682 MB/s sustained "
                                           "in 3.0 s, ok\n")
        # After a cliff at 6 s (500 to 100 MB/s) the time left follows the last 10 s of progress on every
        # line: it grows line by line, never holds, and from 16 s on is the slow rate's.
        screen = Terminal()
        status = Status(10, 1, screen)
        status.start(0, Settings("U", 1024, 1, 10))
        for second in range(1, 21):
            status.sample(Sample(second * 1000, 500 * min(second, 6) + 100 * max(0, second - 6), 0, 0))
        left = [float(line.rsplit(", ", 1)[1].split()[0]) for line in screen.getvalue().split("\r\033[K")[1:]]
        self.assertEqual(left[5:16], sorted(set(left[5:16])), left)   # rising, no two alike
        self.assertEqual(left[15:], [round((10240 - 3000 - 100 * n) / 100) for n in range(10, 15)], left)


class Records(unittest.TestCase):
    def test_a_stopped_fill_is_recorded_whole(self):
        run = parse_text(step_log(), "fill.log")[0]
        failed = Pass(1, run.final(), "log", ["vorlax: /m/vorlax-fill-001_00.BIN: write failed after 9 blocks: "
                                              "No space left on device"])
        fill = fills.Fill([fills.FillRun("/m/vorlax-fill-000", Settings("U", 1024, 1, 63), Pass(0, run.final(), "l"),
                                         run),
                           fills.FillRun("/m/vorlax-fill-001", Settings("U", 1024, 1, 63), failed, None)],
                          stopped="run 2 met a full disk: vorlax: ... No space left on device")
        plan = fills.make_plan(200 * GIB, 500 * GIB, 1, 1024)
        measured = Measured("/m", "ext4", "/dev/loop0", "", "2026-12-07 10:00:00 +0000", "VORLAX 1.0.0", 2, 1024,
                            "not read")
        analysis = analyse_runs(fill.samples())
        document = json.loads(json.dumps(json_document(fill, plan, Settings("U", 1024, 1, 0), measured, analysis,
                                                       61.5, False)))
        self.assertEqual((document["finished"], document["stopped"]), (False, fill.stopped))
        self.assertEqual([r["exit_status"] for r in document["runs"]], [0, 1])
        self.assertEqual(len(document["samples"]), 60)
        self.assertEqual(document["samples"][-1], [60.0, 60000.0])
        self.assertEqual([round(p["mb_s"]) for p in document["phases"]], [2000, 500])
        self.assertEqual(document["cliff"]["from_mb_s"], 2000)
        self.assertEqual(document["settings"]["planned_gb"], 195)  # 5 GB (1 %) kept free
        text = markdown(fill, plan, Settings("U", 1024, 1, 0), measured, analysis, 61.5, False)
        self.assertIn("- stopped: run 2 met a full disk", text)
        self.assertIn("](fill.svg)", text)
        self.assertNotIn("](", markdown(fill, plan, Settings("U", 1024, 1, 0), measured, analysis, 61.5, False, None))
        self.assertIn("| 1 | 0.00 | 39.06 | 0.0 | 20.0 | 2000 |", text)
        interrupted = json_document(fills.Fill(), plan, Settings("U", 1024, 1, 0), measured,
                                    analyse_runs([]), 0.5, "terminated (SIGTERM) during run 1 of 1")
        self.assertEqual((interrupted["stopped"], interrupted["phases"], interrupted["cliff"]),
                         ("terminated (SIGTERM) during run 1 of 1", [], None))

    def test_a_stopped_run_keeps_its_lines(self):
        # A program that prints two progress lines and waits: the fill is stopped in its run.
        with support.Scratch() as scratch:
            program = scratch.file("slow-vorlax")
            with open(program, "w") as script:
                script.write("#!/bin/sh\nprintf '%s' \"$(cat %s)\"\nexec sleep 600\n" % ("%s\\n", scratch.file("lines")))
            with open(scratch.file("lines"), "w") as lines:
                lines.write("\n".join(step_log(3, 0).splitlines()[:3]))
            os.chmod(program, 0o755)
            fill, started = fills.Fill(), []

            def on_sample(sample):
                started.append(sample)
                if len(started) == 2:
                    raise KeyboardInterrupt
            plan = fills.Plan(10 * GIB, GIB, 1, [5])
            with self.assertRaises(KeyboardInterrupt):
                fills.fill_runs(program, scratch.path, plan, Settings("U", 1024, 1, 0), scratch.path, fill,
                                lambda *_: None, on_sample, lambda *_: None)
        self.assertEqual([(one.interrupted, one.run.final().total_mb) for one in fill.runs], [(True, 4000)])
        self.assertEqual(fill.made, [scratch.file("vorlax-fill-000_00.BIN")])


class PlotPhases(unittest.TestCase):
    def test_what_the_fill_chart_draws(self):
        from vorlax_charts import load_pyplot
        from vorlax_phase_chart import CLIPPED_LABEL, draw_phases
        # A dip of 4 s at 40 to 44 s; the run's last interval is 0.05 s long.
        lines = ["VORLAX: writing unbuffered 1024K buffers in 1 threads up to 63 GB each"]
        mb = 0
        for second in range(1, 61):
            mb += 50 if 40 < second <= 44 else 500
            lines.append("%4d.000: %8d MB written, 1 MB/s sustained, 1 MB/S incremental" % (second, mb))
        lines += ["  60.050: %8d MB written, 1 MB/s sustained, 1 MB/S incremental" % (mb + 25), "DONE!"]
        write = parse_text("\n".join(lines) + "\n", "fill.log")
        read = parse_text("VORLAX: reading unbuffered 1024K buffers in 1 threads up to 2 GB each\n"
                          "   0.490:     2048 MB read, 4196 MB/s sustained, 4196 MB/S incremental\nDONE!\n")
        analysis = analyse_runs(write)
        self.assertEqual(len(analysis.dips), 1)
        pyplot = load_pyplot()
        figure = draw_phases(pyplot, write, analysis, "s", read)
        try:
            axes = figure.axes[0]
            curves = {line.get_label().replace(" (incomplete)", ""): line for line in axes.get_lines()}
            # A read of one sample (2048 MB in 0.49 s) is a marker with its figure.
            self.assertIn("read back: 4180 MB/s", [t.get_text() for t in axes.get_legend().get_texts()])
            self.assertEqual(curves["read back: 4180 MB/s"].get_marker(), "D")
            self.assertIn("4180 MB/s", [t.get_text() for t in axes.texts])
            self.assertLess(axes.get_ylim()[1], 700, "the axes follow the write, not the read's 4196 MB/s")
            self.assertLess(max(curves["write MB/s"].get_ydata()), 501, "no spike from the last short interval")
            dip = curves["dip of 2 s or more below half the phase's speed"]
            self.assertEqual((list(dip.get_xdata()), list(dip.get_ydata())), ([42.0], [50.0]), "at the dip's middle")
        finally:
            pyplot.close(figure)
        # A read curve above the write's scale (3976 and 1260 MB/s at 5 and 12 s, 450 elsewhere): each point
        # above is a triangle on the edge, each span's highest labelled with its figure; the axes stay the write's.
        mb, lines = 0, ["VORLAX: reading unbuffered 1024K buffers in 1 threads up to 63 GB each"]
        for second in range(1, 21):
            mb += {5: 3976, 6: 1000, 12: 1260}.get(second, 450)
            lines.append("%4d.000: %8d MB read, 1 MB/s sustained, 1 MB/S incremental" % (second, mb))
        figure = draw_phases(pyplot, write, analysis, "s", parse_text("\n".join(lines) + "\nDONE!\n"))
        try:
            axes = figure.axes[0]
            edge = [line for line in axes.get_lines() if line.get_label() == CLIPPED_LABEL]
            self.assertEqual(len(edge), 1, [line.get_label() for line in axes.get_lines()])
            self.assertEqual(list(edge[0].get_xdata()), [5.0, 6.0, 12.0])
            self.assertEqual({round(y, 6) for y in edge[0].get_ydata()}, {round(axes.get_ylim()[1] / 1.15 * 1.1, 6)})
            self.assertEqual(sorted(t.get_text() for t in axes.texts if t.get_text().endswith(" MB/s")
                                    and getattr(t, "xy", (0,))[0] in (5.0, 6.0, 12.0)), ["1260 MB/s", "3976 MB/s"])
            self.assertLess(axes.get_ylim()[1], 700)
            self.assertIn(CLIPPED_LABEL, [t.get_text() for t in axes.get_legend().get_texts()])
        finally:
            pyplot.close(figure)

    def test_phases_of_a_saved_log(self):
        with support.Scratch() as scratch:
            with open(scratch.file("fill.log"), "w") as log:
                log.write(step_log())
            cases = [  # args, picture, its horizontal axis
                (["--phases"], "a.svg", "GB written"), (["--phases", "--x", "s"], "b.svg", "elapsed time (s), runs"),
                (["--x", "gb"], "c.svg", "GB written"), (["--phases"], "d.png", None)]
            for args, picture, axis in cases:
                with self.subTest(args=args):
                    done = support.run_tool("vorlax-plot", *args, scratch.file("fill.log"), "-o",
                                            scratch.file(picture))
                    self.assertEqual(done.returncode, 0, done.stderr)
                    if "--phases" in args:
                        self.assertTrue(done.stdout.startswith(
                            "the fast phase ended at 39.1 GB (\u00b1 2.0 GB): 2000 MB/s before, 500 MB/s after\n"),
                            done.stdout)
                    else:
                        self.assertNotIn("phase", done.stdout)
                    if axis:
                        with open(scratch.file(picture)) as drawn:
                            self.assertIn(axis, drawn.read())
                    else:
                        self.assertEqual(support.png_size(scratch.file(picture)), (1000, 560))


if __name__ == "__main__":
    unittest.main()
