"""The run record of vorlax-mpi on 2 ranks (with $VORLAX_MPI_EXE, in stage
40): a run to its end and runs stopped by a signal, each record validated
against docs/record.schema.json as test_record does for vorlax."""

import os
import shutil
import signal
import subprocess
import unittest

import support
from test_record import LATENCY, STALLS, jsonschema, load_valid


@unittest.skipUnless(jsonschema, "python3-jsonschema is not installed")
class MpiRecords(unittest.TestCase):
    @unittest.skipUnless(os.environ.get("VORLAX_MPI_EXE") and shutil.which("mpiexec"),
                         "vorlax-mpi: run by stage 40 with $VORLAX_MPI_EXE")
    def test_vorlax_mpi_on_two_ranks(self):
        """With --seconds past its end: the stonewall object says not reached
        (stonewall_e2e checks a deadline that is reached)."""
        with support.Scratch() as scratch:
            record_path = scratch.file("r.json")
            env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1",
                       TMPDIR=scratch.path)
            done = subprocess.run(["mpiexec", "--oversubscribe", "-n", "2", os.environ["VORLAX_MPI_EXE"],
                                   "--latency", "--json", record_path, "--seconds", "600", "B", scratch.file("run"),
                                   "256", "1", "1"],
                                  capture_output=True, text=True, timeout=300, env=env)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertRegex(done.stdout, "\nstonewall: not reached: every rank finished before 600 s\n" + LATENCY +
                             "\n" + STALLS + "\nDONE!\n$")
            record = load_valid(self, record_path)
            self.assertEqual([(r["rank"], r["mb"]) for r in record["ranks"]], [(0, 1024), (1, 1024)])
            self.assertEqual(record["latency"]["blocks"], 8192)
            self.assertIn(record["latency"]["max_rank"], (0, 1))
            wall = record["stonewall"]
            self.assertEqual([wall[key] for key in ("seconds", "reached", "total_mb", "target_blocks")],
                             [600, False, 2048, 4096])
            self.assertEqual(record["settings"]["seconds"], 600)

    @unittest.skipUnless(os.environ.get("VORLAX_MPI_EXE") and shutil.which("mpiexec"),
                         "vorlax-mpi: run by stage 40 with $VORLAX_MPI_EXE")
    def test_vorlax_mpi_stopped_by_a_signal_records_it(self):
        """mpiexec passes SIGTERM and Ctrl-C on to the ranks as SIGTERM; a signal to one rank alone reaches
        the others at the next progress line. Each time rank 0 writes the record, every thread stopped."""
        env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1")
        for target, sent, stopped, status in (("mpiexec", signal.SIGTERM, "terminate", 143),
                                              ("mpiexec", signal.SIGINT, "terminate", 143),
                                              ("rank 1", signal.SIGINT, "interrupt", 130)):
            with self.subTest(target=target, signal=sent.name), support.Scratch() as scratch:
                prefix, record_path = scratch.file("run"), scratch.file("r.json")
                fifos = [support.FifoFiles("%s_r%04d" % (prefix, rank), 1) for rank in (0, 1)]
                try:
                    with subprocess.Popen(["mpiexec", "--oversubscribe", "-n", "2", os.environ["VORLAX_MPI_EXE"],
                                           "--json", record_path, "B", prefix, "1024", "1", "1"],
                                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                          env=env) as running:
                        out = ""
                        for line in running.stdout:
                            out += line
                            if support.progress_line_count(out) == 1 and line.endswith("incremental\n"):
                                os.kill(running.pid if target == "mpiexec" else rank_pid(1), sent)
                        err = running.stderr.read()
                        running.wait(timeout=120)
                finally:
                    for sink in fifos:
                        sink.close()
                if target != "mpiexec":  # mpiexec itself ends 1 once it was signalled
                    self.assertEqual(running.returncode, status, err)
                self.assertRegex(out, "\nDONE!\n$")
                self.assertIn("vorlax-mpi: run stopped by ", err)
                record = load_valid(self, record_path)
                self.assertEqual((record["stopped"], record["exit_status"]), (stopped, status))
                self.assertEqual([[t["result"] for t in r["threads"]] for r in record["ranks"]], [["stopped"]] * 2)


def rank_pid(rank):
    """The process id of vorlax-mpi's rank (by OMPI_COMM_WORLD_RANK in its environment)."""
    exe = os.path.realpath(os.environ["VORLAX_MPI_EXE"])
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.path.realpath("/proc/%s/exe" % pid) != exe:
                continue
            with open("/proc/%s/environ" % pid, "rb") as environ:
                if b"OMPI_COMM_WORLD_RANK=%d\0" % rank in environ.read():
                    return int(pid)
        except OSError:
            continue
    raise AssertionError("no rank %d of %s" % (rank, exe))


if __name__ == "__main__":
    unittest.main()
