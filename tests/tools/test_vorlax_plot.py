"""vorlax-plot as a user runs it: pictures of the asked size and format,
one-line messages and a non-zero status for bad input."""

import errno
import os
import re
import unittest

import support
from test_vorlax_log import GOOD, MPI, READ


class Pictures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = support.Scratch().__enter__()
        cls.real_log, _ = support.sink_run_log(cls.scratch)
        cls.edge_log = cls.scratch.file("edge.log")
        with open(cls.edge_log, "w") as log:
            log.write(GOOD + GOOD.replace("unbuffered", "buffered"))

    @classmethod
    def tearDownClass(cls):
        cls.scratch.__exit__()

    def test_png_and_svg_of_the_asked_size(self):
        cases = [
            ("one.png", [], (1000, 560)),
            ("two.png", ["--width", "640", "--height", "480"], (640, 480)),
            ("three.svg", ["--width", "800", "--height", "400"], (576.0, 288.0)),  # 72 pt per 100 px
        ]
        for name, options, size in cases:
            with self.subTest(name=name):
                out = self.scratch.file(name)
                done = support.run_tool("vorlax-plot", self.real_log, self.edge_log, "-o", out, *options)
                self.assertEqual((done.returncode, done.stderr), (0, ""))
                self.assertEqual(done.stdout, "%s: 3 runs\n" % out)
                measure = support.png_size if name.endswith(".png") else support.svg_size_pt
                self.assertEqual(measure(out), size)

    def test_sizes_too_small_for_the_text_are_refused_with_one_that_works(self):
        cases = [  # --width, --height, --dpi: the size that works, said in the refusal
            (600, 400, 600, (600, 400, 120)),
            (100, 100, 100, (500, 300, 100)),
            (10000, 100, 100, (10000, 300, 100)),
            (3000, 1000, 1000, (3000, 1000, 333)),
        ]
        for width, height, dpi, works in cases:
            for phases in ([], ["--phases"]):
                with self.subTest(size=(width, height, dpi), phases=phases):
                    out = self.scratch.file("sized.png")
                    size = ["--width", str(width), "--height", str(height), "--dpi", str(dpi)]
                    done = support.run_tool("vorlax-plot", self.real_log, "-o", out, *phases, *size)
                    self.assertEqual(done.returncode, 2, done.stderr)
                    self.assertRegex(done.stderr, r"^vorlax-plot: picture size %dx%d at --dpi %d is [\d.]+ x [\d.]+ "
                                     r"inches, too small for its text .*; try --width %d --height %d --dpi %d\n$"
                                     % ((width, height, dpi) + works))
                    size = ["--width", str(works[0]), "--height", str(works[1]), "--dpi", str(works[2])]
                    done = support.run_tool("vorlax-plot", self.real_log, "-o", out, *phases, *size)
                    self.assertEqual((done.returncode, done.stderr), (0, ""), "no warning ever")
                    self.assertEqual(support.png_size(out), works[:2])

    def test_no_warning_where_matplotlib_cannot_keep_its_config(self):
        # A user such as nobody, whose home cannot be written.
        out = self.scratch.file("homeless.svg")
        done = support.run_tool("vorlax-plot", self.real_log, "-o", out,
                                env={"HOME": "/proc/vorlax-fill-home", "XDG_CONFIG_HOME": "", "MPLCONFIGDIR": ""})
        self.assertEqual((done.returncode, done.stderr), (0, ""))

    def test_labels_title_and_stdin(self):
        out = self.scratch.file("labelled.svg")
        with open(self.real_log) as log:
            done = support.run_tool("vorlax-plot", "-o", out, "-l", "my disk", "-t", "A title", stdin=log.read())
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(out) as picture:
            text = picture.read()
        for words in ("my disk incremental", "my disk sustained", "A title"):
            self.assertIn("<!-- %s -->" % words, text)
        # Without -o the picture goes beside the first log, named after it,
        # wherever the tool is started.
        elsewhere = self.scratch.file("elsewhere")
        os.mkdir(elsewhere)
        done = support.run_tool("vorlax-plot", self.edge_log, cwd=elsewhere)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout, "%s: 2 runs\n" % self.scratch.file("edge.svg"))
        self.assertTrue(os.path.isfile(self.scratch.file("edge.svg")))
        self.assertEqual(os.listdir(elsewhere), [])

    def test_read_and_mpi_logs_and_legends_that_never_repeat(self):
        logs = []
        for name, text in (("copy.log", GOOD), ("mpi.log", MPI), ("read.log", READ)):
            logs.append(self.scratch.file(name))
            with open(logs[-1], "w") as log:
                log.write(text)
        out = self.scratch.file("mixed.svg")
        done = support.run_tool("vorlax-plot", self.edge_log, *logs, "-o", out)
        self.assertEqual((done.returncode, done.stdout), (1, "%s: 5 runs, 1 fell short\n" % out))
        self.assertEqual(done.stderr, "vorlax-plot: %s: the run 'B 1024K x2 on 3 ranks' fell short: failed: full disk; "
                                      "drawn dotted\n" % logs[1])
        with open(out) as picture:
            text = picture.read()
        legends = re.findall(r"<!-- (.*) incremental(.*) -->", text)
        self.assertEqual(legends, [("U 1024K x2 (edge.log)", ""), ("B 1024K x2", ""), ("U 1024K x2 (copy.log)", ""),
                                   ("B 1024K x2 on 3 ranks", " (failed: full disk)"), ("U 1024K x2 read", "")])
        self.assertIn("<!-- VORLAX: sequential writes and reads -->", text)

    def test_a_short_mpi_run_draws_its_one_point_and_its_ranks(self):
        # Shorter than two progress lines, one rank failed before it wrote.
        short = "\n".join(MPI.split("\n")[:2] + [
            "rank 0 thread 0 done! 1024",
            "rank 0 on node1: 1024 MB written in 0.557 s, 1838 MB/s",
            "failed: rank 1 on node2: vorlax-mpi: /x/run_r0001_00.BIN: cannot create: No such file or directory; "
            "the folder /x does not exist: create it, or give a path in a folder that exists",
            "rank 2 on node1: 1024 MB written in 0.471 s, 2174 MB/s, fell short",
            "slowest: rank 0 on node1, 1838 MB/s",
            "DONE!", ""])
        log = self.scratch.file("short-mpi.log")
        with open(log, "w") as text:
            text.write(short)
        done = support.run_tool("vorlax-plot", log, "-o", self.scratch.file("short-mpi.svg"))
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertIn("fell short: failed: missing folder", done.stderr)
        with open(self.scratch.file("short-mpi.svg")) as picture:
            comments = re.findall(r"<!-- (.*?) -->", picture.read())
        legend = [words for words in comments if words.startswith("B 1024K")]
        self.assertEqual(legend, ["B 1024K x2 on 3 ranks (one progress line) (failed: missing folder)"])
        for words in ("the rank's own MB/s (summary)", "1838", "2174", "failed", "1 on node2"):
            self.assertIn(words, comments)

    def test_bad_input_gives_one_line_and_a_failing_status(self):
        junk = self.scratch.file("junk.txt")
        with open(junk, "w") as text:
            text.write("hello\n")
        empty_run = self.scratch.file("empty.log")
        with open(empty_run, "w") as text:
            text.write("VORLAX: writing buffered 64K buffers in 1 threads up to 1 GB each\nDONE!\n")
        binary = self.scratch.file("binary.log")
        with open(binary, "wb") as data:
            data.write(bytes(range(256)) * 16)
        cut = self.scratch.file("cut.log")
        with open(cut, "w") as text:
            text.write(GOOD[:-60])
        cut_record = self.scratch.file("cut.json")
        with open(os.path.join(support.ROOT, "tests", "tools", "data", "record-vorlax.json")) as whole, \
                open(cut_record, "w") as text:
            text.write(whole.read()[:200])
        os.mkdir(self.scratch.file("folder.svg"))
        cases = [  # bad input, 2; a picture it could not write, 1
            ([junk], "vorlax-plot: %s:1: not VORLAX output" % junk),
            ([empty_run], "vorlax-plot: %s: the run 'B 64K x1' has no progress line" % empty_run),
            ([cut], "vorlax-plot: %s:6: line cut short" % cut),
            ([binary], "vorlax-plot: %s: binary data, not a VORLAX log" % binary),
            ([self.scratch.file("absent.log")], "cannot read: No such file or directory; check the path"),
            ([cut_record], "cut.json: the record is cut short or not JSON: "),
            ([self.edge_log, "-o", self.scratch.file("x.gif")], "must end in .svg or .png"),
            ([self.edge_log, "-o", self.scratch.file("no/such/x.png")], "cannot write: No such file or directory; "
             "check the path", 1),
            ([self.edge_log, "-o", self.scratch.file("folder.svg")], "cannot write: Is a directory; give a file "
             "name, not a folder", 1),
            ([self.edge_log, "-l", "a", "-l", "b", "-l", "c"], "3 labels for 2 runs"),
            ([self.real_log, "-l", "a", "-l", "b"], "2 labels for 1 run\n"),
            ([self.edge_log, "--width", "10"], "too small for its text"),
            ([self.edge_log, "--width", "100000", "--height", "100000"], "too large; use at most 10000x10000"),
            ([self.edge_log, "--dpi", "5"], "--dpi 5 is out of range"),
        ]
        for args, message, *status in cases:
            with self.subTest(args=args):
                if "-o" not in args:
                    args = args + ["-o", self.scratch.file("bad.png")]
                done = support.run_tool("vorlax-plot", *args)
                self.assertEqual(done.returncode, (status or [2])[0])
                self.assertIn(message, done.stderr)
                self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                self.assertEqual(done.stdout, "")


class FileErrors(unittest.TestCase):
    def test_every_tool_says_a_file_error_with_what_to_try(self):
        from vorlax_errors import error_text
        from vorlax_log import ToolError
        cases = [  # what vorlax-sweep and vorlax-fill meet, as they say it
            (OSError(errno.EACCES, "Permission denied", "out/logs"), "out/logs: Permission denied; check its "
                                                                     "permissions"),
            (OSError(errno.EIO, "Input/output error"), "Input/output error"), (ToolError("x: no"), "x: no")]
        for error, text in cases:
            with self.subTest(text):
                self.assertEqual(error_text(error), text)


class FellShort(unittest.TestCase):
    """Runs that fell short, as the programs print them, drawn as such."""

    def test_failed_and_cut_runs_are_drawn_dotted_and_named(self):
        from vorlax_charts import load_pyplot
        from vorlax_log import parse_text
        from vorlax_run_chart import draw_runs
        with support.Scratch() as scratch:
            mounted = scratch.file("vorlax-fill-full")
            os.mkdir(mounted)
            # An 8 MB disk fills in microseconds: whether the monitor looked
            # before the writer failed is the machine's timing, so the run is
            # made again until its log has the progress line the chart needs.
            for _ in range(50):
                full, status = support.program_output(support.vorlax_exe(), ["B", mounted + "/run", "1024", "1", "1"],
                                                       ("tmpfs", "size=8m", mounted))
                self.assertEqual(status, 1, full)
                if " MB written, " in full:
                    break
            else:
                self.skipTest("50 runs onto a full 8 MB tmpfs all ended before the monitor's first look")
            missing, _ = support.program_output(support.vorlax_exe(), ["B", scratch.file("none/run"), "64", "1", "1"])
            _, whole = support.sink_run_log(scratch)
        cut = whole[:whole.index("thread ")]  # stopped at a line's end, before its threads ended
        runs = parse_text(full, "full.log") + parse_text(cut, "cut.log") + parse_text(whole, "whole.log")
        self.assertEqual([run.shortfall() for run in runs], ["failed: full disk", "incomplete", None])
        if " MB written, " in missing:  # a run that ended before its first second has no line to draw
            self.assertEqual(parse_text(missing)[0].shortfall(), "failed: missing folder")
        pyplot = load_pyplot()
        figure = draw_runs(pyplot, runs, [])
        try:
            lines = {line.get_label(): line for line in figure.axes[0].get_lines()}
            legend = [text.get_text() for text in figure.axes[0].get_legend().get_texts()]
            expected = {"B 1024K x1 (one progress line) (failed: full disk)": "None",
                        "B 1024K x2 (cut.log) incremental (incomplete)": ":",
                        "B 1024K x2 (whole.log) incremental": "-", "B 1024K x2 (whole.log) sustained": "--"}
            for label, style in expected.items():
                self.assertIn(label, legend)
                self.assertEqual(lines[label].get_linestyle(), style, label)
            self.assertEqual(lines["B 1024K x1 (one progress line) (failed: full disk)"].get_marker(), "X")
        finally:
            pyplot.close(figure)
        # The same runs as one long write (--phases): dotted and named as the plain chart names them.
        from vorlax_phase_chart import draw_phases
        from vorlax_phases import analyse_runs
        for chained, label, style in (([runs[0]], "write MB/s (failed: full disk)", ":"),
                                      (runs[1:], "write MB/s (incomplete)", ":"), (runs[2:], "write MB/s", "-")):
            figure = draw_phases(pyplot, chained, analyse_runs(chained))
            try:
                write = [line for line in figure.axes[0].get_lines() if line.get_label().startswith("write MB/s")]
                self.assertEqual([(line.get_label(), line.get_linestyle()) for line in write], [(label, style)])
                self.assertIn(label, [text.get_text() for text in figure.axes[0].get_legend().get_texts()])
            finally:
                pyplot.close(figure)

    def test_many_runs_never_share_a_look_and_their_legend_stands_beside(self):
        from vorlax_charts import load_pyplot
        from vorlax_log import parse_text
        from vorlax_run_chart import draw_runs
        pyplot = load_pyplot()
        for count, size in ((12, (1000, 560)), (26, (1000, 560)), (40, (600, 400)), (26, (1600, 1200))):
            with self.subTest(runs=count, size=size):
                runs = [run for number in range(count) for run in parse_text(GOOD, "r%02d.log" % number)]
                figure = draw_runs(pyplot, runs, [], *size)
                try:
                    looks = [(line.get_color(), line.get_marker()) for line in figure.axes[0].get_lines()
                             if line.get_label().endswith(" incremental")]
                    self.assertEqual(len(set(looks)), count)
                    figure.canvas.draw()  # lays the texts out where the saved picture has them
                    legend, whole = figure.axes[0].get_legend(), figure.bbox
                    self.assertGreater(legend.get_window_extent().x0, figure.axes[0].get_window_extent().x1)
                    entries = legend.get_texts()
                    # Two entries a run, or where they cannot all fit, one a run and two for the line styles.
                    self.assertEqual(len(entries), 2 * count if count < 40 else count + 2)
                    for entry in entries:  # every entry seen whole: inside the figure
                        box = entry.get_window_extent()
                        self.assertTrue(whole.x0 <= box.x0 and box.x1 <= whole.x1 and whole.y0 <= box.y0
                                        and box.y1 <= whole.y1, (entry.get_text(), box, whole))
                    self.assertGreaterEqual(figure.axes[0].get_window_extent().width, whole.width / 3)
                finally:
                    pyplot.close(figure)


if __name__ == "__main__":
    unittest.main()
