"""vorlax-fill end to end on a loop-device ext4 whose speed the test sets
with the kernel's block-I/O throttle: the phases, the cliff and the dip it
must find, Ctrl-C and SIGTERM part way, a disk that something else fills,
and refusals. Needs root, loop devices, mkfs.ext4 and the throttle; skips
with the reason where one is missing. Run by tests/stages/65-fill.sh."""

import json
import os
import signal
import threading
import time
import unittest

import support
from loop_disk import MB, LoopDisk, read_text, run


class Fills(unittest.TestCase):
    def test_phases_cliff_and_dip_of_a_throttled_disk(self):
        fast, slow, dip, cliff_mb, dip_mb = 150, 40, 5, 2048, 2458
        with LoopDisk(5) as disk:
            before = disk.state()
            disk.throttle.set(fast)
            fill = disk.start_fill("--size", "3", "--read", env={"VORLAX_FILL_FILE_GB": "1"})
            changed = {}

            def steer():
                # The rate changes where the fill has written so much, whatever the machine's pace.
                if disk.wait_written(fill, cliff_mb):
                    disk.throttle.set(slow)
                    changed["cliff"] = disk.written_mb()
                if disk.wait_written(fill, dip_mb):
                    disk.throttle.set(dip)
                    changed["dip"] = disk.written_mb()
                    # 4 s at the dip's rate, held by the throttle and not by this thread's clock.
                    disk.wait_written(fill, changed["dip"] + 4 * dip)
                    disk.throttle.set(slow)
            steering = threading.Thread(target=steer)
            steering.start()
            out, err = fill.communicate(timeout=600)
            steering.join()
            self.assertEqual(fill.returncode, 0, err)
            self.assertEqual(sorted(changed), ["cliff", "dip"], err)
            with open(os.path.join(disk.out, "fill.json")) as document:
                found = json.load(document)
            self.assertEqual(len(found["phases"]), 2, out)
            for phase, limit in zip(found["phases"], (fast, slow)):
                self.assertAlmostEqual(phase["mb_s"], limit, delta=0.1 * limit, msg=out)
            cliff = found["cliff"]
            self.assertLessEqual(abs(cliff["gb"] - changed["cliff"] / 1024), cliff["plus_minus_gb"], out)
            self.assertRegex(out, r"\nthe fast phase ended at [\d.]+ GB \(\u00b1 0\.1\d GB\): 1\d\d MB/s before, "
                                  r"[34]\d MB/s after\n")
            dips = [d for d in found["dips"] if abs(d["start_gb"] - changed["dip"] / 1024) < 0.1]
            self.assertEqual(len(dips), 1, out)
            self.assertGreaterEqual(dips[0]["seconds"], 2)
            self.assertLess(dips[0]["mb_s"], slow / 2)
            # Its slowest write, from the runs' records: 1 MB at 5 MB/s takes 200 ms, give or take the throttle's slices.
            self.assertGreater(dips[0]["slowest_ms"], 100, out)
            self.assertRegex(out, r"\nthe dip at [\d.]+ GB: its slowest write took [\d.]+ (ms|s)\n")
            # Three runs chained in order, read back and checked, drawn; the disk as it was.
            with open(os.path.join(disk.out, "fill.log")) as log:
                banners = [line for line in log if line.startswith("VORLAX: ")]
            self.assertEqual(banners, ["VORLAX: writing unbuffered 1024K buffers in 1 threads up to 1 GB each\n"] * 3)
            self.assertEqual([r["read"]["verdict"] for r in found["runs"]], ["pass"] * 3)
            self.assertIn("every byte read back and checked: pass (3 runs)", out)
            self.assertIn(", %s\n" % os.path.join(disk.out, "fill-read.log"), out)
            self.assertTrue(found["finished"])
            self.assertEqual(support.png_size(os.path.join(disk.out, "fill.png")), (1000, 560))
            self.assertGreater(os.path.getsize(os.path.join(disk.out, "fill.svg")), 0)
            self.assertEqual(disk.state(), before)

    def test_a_stopped_fill_keeps_its_figures_and_removes_every_file_it_wrote(self):
        with LoopDisk(3) as disk:
            before = disk.state()
            disk.throttle.set(20)  # 1 GB at 20 MB/s: surely still running when stopped
            for number, status, said in ((signal.SIGINT, 130, "interrupted (Ctrl-C)"),
                                         (signal.SIGTERM, 143, "terminated (SIGTERM)")):
                with self.subTest(signal=number):
                    fill = disk.start_fill("--size", "1")
                    self.assertTrue(disk.wait_written(fill, 1), "the fill never wrote")
                    # Stopped after its first progress line: held by the throttle, not by the clock.
                    with open(os.path.join(disk.out, "run.tmp")) as log:
                        while " MB written, " not in log.read() and fill.poll() is None:
                            time.sleep(0.05)
                    fill.send_signal(number)
                    out, err = fill.communicate(timeout=120)
                    self.assertEqual(fill.returncode, status, err)
                    self.assertIn("vorlax-fill: %s during run 1 of 1" % said, err)
                    self.assertNotIn("Traceback", err)
                    self.assertEqual(disk.state(), before)
                    with open(os.path.join(disk.out, "fill.json")) as document:
                        found = json.load(document)
                    self.assertEqual((found["stopped"], found["runs"][0]["write"]), (said + " during run 1 of 1",
                                                                                   "stopped"))
                    self.assertGreater(found["total_gb"], 0, out)
                    self.assertIn("wrote %s" % os.path.join(disk.out, "fill.json"), out)
                    self.assertIn(os.path.join(disk.out, "report.html"), out)
                    with open(os.path.join(disk.out, "fill.md")) as text:
                        self.assertIn("](fill.svg)", text.read())
                    with open(os.path.join(disk.out, "fill.svg")) as chart:
                        self.assertIn("stopped part way: %s during run 1 of 1" % said, chart.read())
                    self.assertGreater(os.path.getsize(os.path.join(disk.out, "fill.svg")), 0)
            # Stopped before the first progress line: a program that prints its banner, then waits.
            stub = os.path.join(disk.scratch, "banner-only")
            with open(stub, "w") as script:
                script.write("#!/bin/sh\necho 'VORLAX: writing unbuffered 1024K buffers in 1 threads up to 1 GB "
                             "each'\nexec sleep 600\n")
            os.chmod(stub, 0o755)
            fill = disk.start_fill("--size", "1", "--vorlax", stub)
            deadline = time.monotonic() + 60
            while "VORLAX:" not in read_text(os.path.join(disk.out, "run.tmp")) and time.monotonic() < deadline:
                time.sleep(0.05)
            fill.send_signal(signal.SIGINT)
            out, err = fill.communicate(timeout=60)
            self.assertEqual(fill.returncode, 130, err)
            self.assertIn("nothing measured: stopped before the first progress line\n", out)
            self.assertNotIn("phase", out)
            self.assertNotIn("average", out)
            with open(os.path.join(disk.out, "fill.md")) as text:
                self.assertIn("- nothing measured: stopped before the first progress line\n", text.read())

    def test_notes_once_and_a_program_that_printed_nothing(self):
        with LoopDisk(4) as disk:
            disk.throttle.set(1000)
            done = disk.start_fill("--mode", "B", "--size", "2", "--keep", env={"VORLAX_FILL_FILE_GB": "1"})
            out, err = done.communicate(timeout=300)
            self.assertEqual(done.returncode, 0, err)
            self.assertEqual(err.count("vorlax: note: the test files"), 1, err)
            self.assertIn("kept 2 files in %s: vorlax-fill-000_00.BIN, vorlax-fill-001_00.BIN" % disk.mount, err)
            for name in ("vorlax-fill-000_00.BIN", "vorlax-fill-001_00.BIN"):
                os.remove(os.path.join(disk.mount, name))
            done = disk.start_fill("--size", "1", "--vorlax", "/bin/true")
            out, err = done.communicate(timeout=60)
            self.assertEqual(done.returncode, 1, err)
            self.assertIn("vorlax-fill: run 1 failed: ", err)
            self.assertIn("no progress line", err)

    def test_a_disk_that_fills_up_ends_the_fill_cleanly(self):
        cases = [  # what something else leaves free of what run 1 still needs, in MB: what the fill says
            ("in run 1", lambda still_mb: 8 - still_mb,
             "deleted the fill's files despite --keep: a run met a full disk, and a full disk is left to no one"),
            ("between runs", lambda still_mb: 300,  # run 1 ends well, run 2 cannot start
             "deleted the fill's files despite --keep: something else filled the disk to 0.[23]\\d GB free, and "
             "a full disk is left to no one"),
        ]
        for when, left_mb, said in cases:
            with self.subTest(when), LoopDisk(4) as disk:
                disk.throttle.set(30)
                fill = disk.start_fill("--keep", env={"VORLAX_FILL_FILE_GB": "1"})
                self.assertTrue(disk.wait_written(fill, 1), "the fill never wrote")
                # Something else takes the free space; the test's own file must stay as it is.
                other = os.path.join(disk.mount, "other.bin")
                stat = os.statvfs(disk.mount)
                still_mb = 1024 - int(disk.written_mb())
                run("fallocate", "-l", str(stat.f_bavail * stat.f_frsize - (still_mb + left_mb(still_mb)) * MB),
                     other)
                size = os.path.getsize(other)
                out, err = fill.communicate(timeout=300)
                self.assertEqual(fill.returncode, 1, err)
                self.assertRegex(err, "vorlax-fill: " + said)
                self.assertEqual((sorted(os.listdir(disk.mount)), os.path.getsize(other)),
                                 (["lost+found", "other.bin"], size))
                self.assertIn("wrote %s" % os.path.join(disk.out, "fill.json"), out)
                if when == "between runs":
                    self.assertRegex(err, r"vorlax-fill: the free space shrank to 0\.[23]\d GB before run 2 ")
                    continue
                self.assertNotIn("vorlax: note:", err.split("met a full disk")[1], "the failure is no note")
                self.assertIn("vorlax-fill: run 1 met a full disk: vorlax: %s/vorlax-fill-000_00.BIN: write failed"
                              % disk.mount, err)
                self.assertIn("No space left on device", err)
                self.assertIn("average: ", out)
                with open(os.path.join(disk.out, "fill.json")) as document:
                    self.assertIn("met a full disk", json.load(document)["stopped"])
                # The loop device's full-disk log, drawn: marked as such, said, exit status 1.
                plot = support.run_tool("vorlax-plot", os.path.join(disk.out, "fill.log"), "-o",
                                        os.path.join(disk.out, "full.svg"))
                self.assertEqual(plot.returncode, 1, plot.stderr)
                self.assertIn("fell short: failed: full disk; drawn dotted", plot.stderr)

    def test_refusals_leave_the_disk_alone(self):
        with LoopDisk(3) as disk:
            mine = os.path.join(disk.mount, "vorlax-fill-000_00.BIN")
            cases = [  # what the test does first, arguments, the reason given
                ("a name in use", ["--size", "1"], "vorlax-fill-000_00.BIN: exists already"),
                ("too little space", ["--threads", "2"], "less than one run of 2 x 1 GB"),
                ("read-only", [], "cannot write there (read-only file system)"),
                ("results nowhere", ["--size", "1", "--out", "/proc/vorlax-fill-out"],
                 "/proc/vorlax-fill-out: cannot write the results there: No such file or directory; name another "
                 "folder with --out"),
                ("results in a file", ["--size", "1", "--out", "/etc/hostname"],
                 "/etc/hostname: cannot write the results there: it is a file, not a folder; name another folder "
                 "with --out"),
            ]
            for what, args, reason in cases:
                with self.subTest(what):
                    if what == "a name in use":
                        with open(mine, "w") as file:
                            file.write("not the fill's")
                    if what == "read-only":
                        run("mount", "-o", "remount,ro", disk.mount)
                    before = disk.state()
                    try:
                        done = disk.start_fill(*args)
                        out, err = done.communicate(timeout=60)
                    finally:
                        if what == "read-only":
                            run("mount", "-o", "remount,rw", disk.mount)
                    self.assertEqual(done.returncode, 2, err)
                    self.assertIn(reason, err)
                    self.assertEqual(out, "")
                    self.assertEqual(disk.state(), before)
                    if what == "a name in use":
                        with open(mine) as file:
                            self.assertEqual(file.read(), "not the fill's")
                        os.remove(mine)


if __name__ == "__main__":
    unittest.main()
