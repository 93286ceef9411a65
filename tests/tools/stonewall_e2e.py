"""--seconds end to end on loop-device ext4 file systems held by the kernel's
block-I/O throttle at rates the test sets: vorlax stops within one block of
S; vorlax-mpi's stonewall and wear-out figures match two ranks of different
speeds, every file holds as many blocks, a rank whose disk fills during the
wear-out falls short, and a rank killed then ends the job. Needs root, loop devices, mkfs.ext4, the throttle
and (for vorlax-mpi) mpirun; skips with the reason where one is missing.
Run by tests/stages/10-native.sh (Seconds) and 40-mpi.sh (Stonewall)."""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import support
import test_record
from loop_disk import LoopDisk

MB = 1 << 20
PROGRESS = re.compile(r"^ +(\d+\.\d{3}): +(\d+) MB written,")


def progress(out):
    """(seconds, MB) of every progress line of out."""
    return [(float(m.group(1)), int(m.group(2))) for m in map(PROGRESS.match, out.splitlines()) if m]


def vorlax_mpi_exe():
    """$VORLAX_MPI_EXE, else vorlax-mpi beside the vorlax under test; skips without it or mpirun."""
    exe = os.environ.get("VORLAX_MPI_EXE") or os.path.join(os.path.dirname(support.vorlax_exe()), "vorlax-mpi")
    if not os.access(exe, os.X_OK) or not shutil.which("mpirun"):
        raise unittest.SkipTest("needs vorlax-mpi (built with libopenmpi-dev) and mpirun")
    return exe


class Seconds(unittest.TestCase):
    def test_vorlax_stops_within_one_block_of_its_time(self):
        seconds, rate, threads = 3, 16, 2
        block_s = 1.0 / (rate / threads)  # a 1 MB block of one thread, while both write
        with LoopDisk(1, "stonewall") as disk:
            disk.throttle.set(rate)
            prefix = os.path.join(disk.mount, "run")
            run = subprocess.run([support.vorlax_exe(), "--seconds", str(seconds), "U", prefix, "1024", str(threads),
                                  "8"], capture_output=True, text=True, timeout=120, preexec_fn=disk.throttle.join)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stderr, "")
            lines = run.stdout.splitlines()
            self.assertEqual(lines[0], "VORLAX: writing unbuffered 1024K buffers in 2 threads up to 8 GB each")
            self.assertEqual(lines[-1], "DONE!")
            last_s, last_mb = progress(run.stdout)[-1]
            # The throttle holds the blocks: none ends before S, the last within one block after it.
            self.assertGreaterEqual(last_s, seconds)
            self.assertLessEqual(last_s, seconds + block_s + 0.25, run.stdout)
            done = {int(t): int(b) for t, b in re.findall(r"^thread (\d+) done! (\d+)$", run.stdout, re.M)}
            self.assertEqual(sorted(done), list(range(threads)))
            self.assertEqual(sum(done.values()), last_mb, run.stdout)
            for thread, blocks in done.items():
                self.assertEqual(os.path.getsize("%s_%02d.BIN" % (prefix, thread)), blocks * MB)
            self.assertAlmostEqual(last_mb / last_s, rate, delta=0.15 * rate)


class Stonewall(unittest.TestCase):
    """Two ranks, each on its own throttled disk: rank 0 at fast, rank 1 at slow MB/s."""

    seconds, fast, slow = 4, 40, 20

    def setUp(self):
        self.exe = vorlax_mpi_exe()

    def start(self, disks, scratch, options=()):
        """mpirun of two ranks, each joining its disk's cgroup through a wrapper
        that also leaves its process id in scratch/pid.R; options before --seconds."""
        for rank, disk in enumerate(disks):
            os.symlink(disk.mount, os.path.join(scratch, str(rank)))
        wrapper = ('rank=$OMPI_COMM_WORLD_RANK; eval "group=\\$STONEWALL_CGROUP_$rank"; '
                   'echo $$ > "$group/cgroup.procs" && echo $$ > "$STONEWALL_PIDS/pid.$rank" && exec "$@"')
        env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1", TMPDIR=scratch,
                   STONEWALL_PIDS=scratch, STONEWALL_CGROUP_0=disks[0].throttle.path,
                   STONEWALL_CGROUP_1=disks[1].throttle.path)
        command = ["mpirun", "-n", "2", "--oversubscribe", "-x", "STONEWALL_PIDS", "-x", "STONEWALL_CGROUP_0",
                   "-x", "STONEWALL_CGROUP_1", "sh", "-c", wrapper, "sh", self.exe, *options,
                   "--seconds", str(self.seconds),
                   "U", os.path.join(scratch, "{rank}", "run"), "1024", "1", "8"]
        return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)

    def two_disks(self):
        disks = [LoopDisk(1, "stonewall0"), LoopDisk(1, "stonewall1")]
        self.addCleanup(lambda: [d.__exit__() for d in disks if getattr(d, "scratch", None)])
        for disk, rate in zip(disks, (self.fast, self.slow)):
            disk.__enter__()
            disk.throttle.set(rate)
        scratch = tempfile.mkdtemp(prefix="vorlax-stonewall-mpi-", dir=disks[0].scratch)
        return disks, scratch

    def test_both_figures_match_the_set_rates_and_every_file_holds_as_many_blocks(self):
        disks, scratch = self.two_disks()
        record_path = os.path.join(scratch, "r.json")
        job = self.start(disks, scratch, ("--json", record_path))
        out, err = job.communicate(timeout=180)
        self.assertEqual(job.returncode, 0, err)
        wall = re.search(r"^stonewall: (\d+) MB in (\d+\.\d{3}) s, (\d+) MB/s \(all ranks until they stopped at 4 s\); "
                         r"the slowest, rank 1 on \S+, was (\d+) MB behind rank 0 on \S+$", out, re.M)
        wear = re.search(r"^wear-out: (\d+) MB in (\d+\.\d{3}) s, (\d+) MB/s \(to the last rank's end, every file "
                         r"written on to (\d+) blocks\)$", out, re.M)
        self.assertTrue(wall and wear, out)
        # At the stonewall both wrote at their own rates; the wear-out lasted
        # until the slow rank had written as much as the fast one.
        self.assertAlmostEqual(int(wall.group(3)), self.fast + self.slow, delta=0.15 * (self.fast + self.slow))
        self.assertAlmostEqual(float(wall.group(2)), self.seconds, delta=0.5)
        self.assertAlmostEqual(int(wall.group(4)), (self.fast - self.slow) * self.seconds,
                               delta=0.15 * (self.fast - self.slow) * self.seconds)
        self.assertAlmostEqual(int(wear.group(3)), 2 * self.slow, delta=0.15 * 2 * self.slow)
        target = int(wear.group(4))
        self.assertAlmostEqual(target, self.fast * self.seconds, delta=0.15 * self.fast * self.seconds)
        self.assertEqual(int(wear.group(1)), 2 * target)
        self.assertEqual(sorted(re.findall(r"^rank \d thread 0 done! (\d+)$", out, re.M)), [str(target)] * 2)
        for disk in disks:
            self.assertEqual(os.path.getsize(os.path.join(disk.mount, "run_00.BIN")), target * MB)
        self.assertNotIn("vorlax-read", out)  # the files are shorter than max-GB
        # The record holds both lines' figures as printed.
        whole = test_record.load_valid(self, record_path)
        # As vorlax --seconds records it; each file ended at the stonewall's count, short of max-GB.
        self.assertEqual(whole["stopped"], "deadline")
        self.assertEqual({t["result"] for rank in whole["ranks"] for t in rank["threads"]}, {"stopped"})
        record = whole["stonewall"]
        self.assertEqual([record[key] for key in ("seconds", "reached", "wall_mb", "wall_s", "wall_mb_s",
                                                  "slowest_rank", "behind_mb", "total_mb", "end_s", "mb_s",
                                                  "target_blocks")],
                         [self.seconds, True, int(wall.group(1)), float(wall.group(2)), int(wall.group(3)), 1,
                          int(wall.group(4)), int(wear.group(1)), float(wear.group(2)), int(wear.group(3)), target])

    def wait_for_wear_out(self, job, disks):
        """Until the fast rank's file has stopped growing and the slow one's
        grows on (its 20 MB/s cannot reach the fast count before 8 s)."""
        files = [os.path.join(disk.mount, "run_00.BIN") for disk in disks]
        deadline = time.monotonic() + 120
        sizes = []
        while time.monotonic() < deadline and job.poll() is None:
            time.sleep(0.5)
            sizes.append([os.path.getsize(f) if os.path.exists(f) else 0 for f in files])
            if len(sizes) > 3 and sizes[-1][0] == sizes[-3][0] > 0 and sizes[-1][1] > sizes[-3][1]:
                self.assertLess(sizes[-1][1], sizes[-1][0], "the slow rank caught up before the test could act")
                return
        self.fail("never in the wear-out: %s" % sizes[-3:])

    def test_a_rank_killed_during_the_wear_out_ends_the_job(self):
        disks, scratch = self.two_disks()
        job = self.start(disks, scratch)
        try:
            self.wait_for_wear_out(job, disks)
            with open(os.path.join(scratch, "pid.1")) as pid:
                os.kill(int(pid.read()), signal.SIGKILL)
            killed = time.monotonic()
            out, err = job.communicate(timeout=60)
            self.assertLess(time.monotonic() - killed, 30, "the job outlived its killed rank")
        finally:
            if job.poll() is None:
                job.kill()
                job.communicate()
        self.assertNotEqual(job.returncode, 0)
        self.assertRegex(out + err, r"rank 1 .*(signal 9|Killed)")
        self.assertNotIn("DONE!", out)

    def test_a_rank_whose_disk_fills_during_the_wear_out_falls_short(self):
        disks, scratch = self.two_disks()
        job = self.start(disks, scratch)
        try:
            self.wait_for_wear_out(job, disks)
            # What room is left goes to other files: the slow rank's next write finds none.
            stat = os.statvfs(disks[1].mount)
            size, count = stat.f_bavail * stat.f_frsize, 0
            while size >= 4096:
                with open(os.path.join(disks[1].mount, "filler%d" % count), "wb") as filler:
                    try:
                        os.posix_fallocate(filler.fileno(), 0, size)
                        count += 1
                    except OSError:
                        size //= 2
            out, err = job.communicate(timeout=60)
        finally:
            if job.poll() is None:
                job.kill()
                job.communicate()
        self.assertEqual(job.returncode, 1, err)
        self.assertRegex(err, r"vorlax-mpi: rank 1 \(\S+\): \S+/run_00\.BIN: write failed after \d+ blocks: No space "
                              r"left on device")
        self.assertRegex(out, r"\nrank 0 on \S+: \d+ MB written in [\d.]+ s, \d+ MB/s\nrank 1 on \S+: \d+ MB written "
                              r"in [\d.]+ s, \d+ MB/s, fell short\n")
        self.assertRegex(out, r"\nwear-out: \d+ MB in .*, every file written on to \d+ blocks but those that fell short\)\n")
        self.assertTrue(out.endswith("DONE!\n"), out)

if __name__ == "__main__":
    unittest.main()
