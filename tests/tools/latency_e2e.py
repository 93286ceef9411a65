"""--latency and --json on a loop-device ext4 held by the block-I/O throttle
at 100 MB/s, for vorlax and vorlax-read in mode U with 1 MB blocks: in a
steady run the blocks' times add up to the run's time; a stall the test
injects (the rate almost 0 for 1.5 s, then back) is found, timed, placed
and listed. Needs root, loop devices, mkfs.ext4 and the throttle; skips
with the reason where one is missing. Run by tests/stages/65-fill.sh."""

import json
import os
import re
import subprocess
import time
import unittest

import support
from loop_disk import LoopDisk

RATE_MB_S = 100
ALMOST_ZERO_MB_S = 4096 / (1 << 20)  # 4 KB/s: a 1 MB block waits for the rate to come back
STALL_S = 1.5


class ThrottledRuns(unittest.TestCase):
    def run_held(self, disk, program, direction, stall):
        """program --latency --json U <mount>/run 1024 1 1, its I/O in the
        throttle's group; with stall, the rate is almost 0 for STALL_S from
        its first progress line on. Returns (stdout, record, stall_at_s)."""
        record_path = os.path.join(disk.scratch, "r.json")
        disk.throttle.set(RATE_MB_S, direction)
        started = time.monotonic()
        stall_at_s = None
        with subprocess.Popen([program, "--latency", "--json", record_path, "U", os.path.join(disk.mount, "run"),
                               "1024", "1", "1"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              preexec_fn=disk.throttle.join) as running:
            out = ""
            for line in running.stdout:
                out += line
                if stall and stall_at_s is None and support.progress_line_count(out) == 1:
                    disk.throttle.set(ALMOST_ZERO_MB_S, direction)
                    stall_at_s = time.monotonic() - started
                    time.sleep(STALL_S)  # the test, not the run, decides how long the stall lasts
                    disk.throttle.set(RATE_MB_S, direction)
            err = running.stderr.read()
        self.assertEqual(running.wait(), 0, err)
        with open(record_path) as text:
            record = json.load(text)
        os.remove(record_path)
        lines = out.splitlines()
        self.assertEqual([lines[-3][:18], lines[-1]], ["latency per block:", "DONE!"], out)
        return out, record, stall_at_s

    def check_steady(self, out, record):
        latency = record["latency"]
        self.assertEqual(latency["blocks"], 1024)
        # Every block timed: their times add up to the run's, less the fills between them.
        blocks_s = sum(upper * count for upper, count in latency["histogram"]) / 1000
        self.assertAlmostEqual(blocks_s, record["seconds"], delta=0.05 * record["seconds"], msg=out)
        self.assertLessEqual(latency["p99_ms"], latency["max_ms"])
        self.assertGreaterEqual(latency["median_ms"], latency["min_ms"])

    def check_stall(self, out, record, stall_at_s):
        latency = record["latency"]
        self.assertGreaterEqual(latency["max_ms"], 1300, out)
        self.assertLessEqual(abs(latency["max_at_s"] - stall_at_s), 1.0, out)
        longest = latency["stalls"]["longest"][0]
        self.assertEqual((longest["ms"], longest["at_s"]), (latency["max_ms"], latency["max_at_s"]))
        self.assertRegex(out, r"\nstalls of 100 ms or more: \d+, [\d.]+ s in all; the longest 1[3-9]\d\d ms at ")
        slowest_sample = max(record["samples"], key=lambda sample: sample[2] or 0)
        self.assertGreaterEqual(slowest_sample[2], 1300)

    def test_vorlax_steady_and_stalled(self):
        with LoopDisk(2, "latency") as disk:
            for stall in (False, True):
                with self.subTest(stall=stall):
                    out, record, stall_at_s = self.run_held(disk, support.vorlax_exe(), "w", stall)
                    self.check_stall(out, record, stall_at_s) if stall else self.check_steady(out, record)

    def test_vorlax_read_steady_and_stalled(self):
        read_exe = support.vorlax_read_exe()
        if read_exe == support.STUB_READ:
            self.skipTest("no vorlax-read beside the vorlax under test")
        with LoopDisk(2, "latency") as disk:
            # Written outside the throttle's group, at the device's own pace.
            subprocess.run([support.vorlax_exe(), "U", os.path.join(disk.mount, "run"), "1024", "1", "1"],
                           check=True, capture_output=True)
            for stall in (False, True):
                with self.subTest(stall=stall):
                    out, record, stall_at_s = self.run_held(disk, read_exe, "r", stall)
                    self.check_stall(out, record, stall_at_s) if stall else self.check_steady(out, record)


if __name__ == "__main__":
    unittest.main()
