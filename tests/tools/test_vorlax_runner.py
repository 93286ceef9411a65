"""run_pass: what the Pass carries (its parsed run, its failure, why its
log gave no run) and what a stop leaves; the programs are small scripts
that print a saved vorlax log."""

import os
import unittest

import support
from vorlax_log import FULL_DISK
from vorlax_runner import Pass, Settings, Stopped, run_pass, write_status

LOG = os.path.join(support.ROOT, "docs", "sample-logs", "u-1024k.log")
FULL = "echo 'vorlax: x_00.BIN: write failed after 9 blocks: No space left on device' >&2; exit 1"


class RunPass(unittest.TestCase):
    def run_script(self, folder, body, on_sample=lambda sample: None):
        program = folder.file("program")
        with open(program, "w") as script:
            script.write("#!/bin/sh\n" + body + "\n")
        os.chmod(program, 0o755)
        return run_pass(program, folder.file("x"), Settings("U", 1024, 1, 3), folder.file("run.log"), on_sample)

    def test_the_pass_carries_its_run_and_failure(self):
        cases = [  # (script, exit status, progress lines in its run (None: no run), failure kind, log lines)
            ("cat " + LOG, 0, 6, None, 9),
            ("head -4 %s; %s" % (LOG, FULL), 1, 3, FULL_DISK, 5),
            ("echo hello; exit 3", 3, None, None, 1),
        ]
        for body, status, samples, kind, lines in cases:
            with self.subTest(body=body), support.Scratch() as folder:
                done = self.run_script(folder, body)
                self.assertEqual(done.exit_status, status)
                self.assertEqual(done.run and len(done.run.samples), samples)
                self.assertEqual(done.final, done.run.final() if done.run else None)
                self.assertEqual(done.failure() and done.failure().kind, kind)
                self.assertEqual(done.unreadable is None, samples is not None, done.unreadable)
                with open(folder.file("run.log")) as log:
                    self.assertEqual(len(log.read().splitlines()), lines)

    def test_a_stop_raises_the_pass_so_far(self):
        def stop(sample):
            raise KeyboardInterrupt
        with support.Scratch() as folder:
            with self.assertRaises(Stopped) as caught:
                self.run_script(folder, "head -3 %s; exec sleep 600" % LOG, stop)
        done = caught.exception.done
        self.assertEqual((done.exit_status, done.final.total_mb, len(done.run.samples)), (130, 604, 1))


class WriteStatus(unittest.TestCase):
    def test_each_kind_said_once_and_a_stop_as_such(self):
        cases = [("vorlax: x_00.BIN: write failed after 9 blocks: No space left on device", 1,
                  "failed (exit 1): full disk"),
                 ("vorlax: run stopped by SIGTERM: 9 MB written; the test files stay as written: x_00.BIN", 143,
                  "failed (exit 143): stopped by SIGTERM"),
                 ("vorlax: x_00.BIN: a line of no kind the tools know", 1, "failed (exit 1)")]
        for line, status, said in cases:
            self.assertEqual(write_status(Pass(status, None, "w.log", [line])), said)
