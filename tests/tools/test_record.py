"""The run record of --json and the lines of --latency, from real runs of
vorlax and vorlax-read (vorlax-mpi's in test_record_mpi): each record
validated against docs/record.schema.json. The test holds the runs' pace
with FIFOs it drains."""

import json
import os
import re
import shutil
import signal
import stat
import subprocess
import unittest

import support

try:
    import jsonschema
except ImportError:  # Debian: python3-jsonschema
    jsonschema = None

SCHEMA = os.path.join(support.ROOT, "docs", "record.schema.json")
EXAMPLE = os.path.join(support.ROOT, "tests", "tools", "data", "record-vorlax.json")
PROGRESS = r" *\d+\.\d{3}: +\d+ MB (written|read), +\d+ MB/s sustained, +\d+ MB/S incremental"
LATENCY = (r"latency per block: median [\d.]+ ms, 99 % [\d.]+ ms, 99\.9 % [\d.]+ ms, max [\d.]+ ms "
           r"\((rank \d+, )?thread \d+, block \d+, at [\d.]+ s\)")
STALLS = r"(no stalls of 100 ms or more|stalls of 100 ms or more: \d+, [\d.]+ s in all; the longest .*)"


def load_valid(test, path):
    """The record at path, after checking it against the schema."""
    with open(path) as text:
        record = json.load(text)
    if jsonschema:
        with open(SCHEMA) as text:
            jsonschema.Draft7Validator(json.load(text)).validate(record)
    return record


def run_into_fifos(scratch, args, threads=2, mode="drain", steer=None):
    """vorlax with args before "B <sink> 1024 <threads> 1", its files FIFOs
    the test drains as mode says; steer(process, fifos, out) is called at
    each line. Returns (returncode, stdout, stderr)."""
    prefix = scratch.file("sink")
    fifos = support.FifoFiles(prefix, threads, mode)
    try:
        with subprocess.Popen([support.vorlax_exe(), *args, "B", prefix, "1024", str(threads), "1"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as running:
            out = ""
            for line in running.stdout:
                out += line
                if steer:
                    steer(running, fifos, out)
            fifos.set_mode("drain")
            err = running.stderr.read()
        return running.wait(timeout=300), out, err
    finally:
        fifos.close()


@unittest.skipUnless(jsonschema, "python3-jsonschema is not installed")
class Records(unittest.TestCase):
    def test_the_example_record_and_the_schema(self):
        with open(SCHEMA) as text:
            jsonschema.Draft7Validator.check_schema(json.load(text))
        self.assertEqual(load_valid(self, EXAMPLE)["record_version"], 1)

    def test_a_good_run_prints_the_latency_lines_in_place_and_records_every_block(self):
        with support.Scratch() as scratch:
            record_path = scratch.file("r.json")
            status, out, err = run_into_fifos(scratch, ["--latency", "--json=" + record_path])
            self.assertEqual(status, 0, err)
            lines = out.splitlines()
            self.assertRegex(lines[-4], PROGRESS)
            self.assertRegex(lines[-3], LATENCY)
            self.assertRegex(lines[-2], STALLS)
            self.assertEqual(lines[-1], "DONE!")
            record = load_valid(self, record_path)
            self.assertEqual([(t["result"], t["blocks"], t["reason"]) for t in record["threads"]],
                             [("completed", 1024, None)] * 2)
            self.assertEqual((record["total_mb"], record["exit_status"], record["stopped"], record["stonewall"],
                              record["settings"]["seconds"]), (2048, 0, None, None, None))
            self.assertEqual(record["latency"]["blocks"], 2048)
            self.assertEqual(sum(count for _, count in record["latency"]["histogram"]), 2048)
            mbs = [sample[1] for sample in record["samples"]]
            self.assertEqual(mbs, sorted(mbs))
            self.assertEqual(mbs[-1], 2048)
            self.assertFalse(os.path.exists(record_path + ".part"))

    def test_without_the_options_stdout_keeps_its_lines(self):
        # The same lines, figures aside, with --json alone and with no option at all.
        shapes, errs = [], []
        with support.Scratch() as scratch:
            for args in ([], ["--json", scratch.file("r.json")]):
                status, out, err = run_into_fifos(scratch, args, threads=1)
                self.assertEqual(status, 0, err)
                errs.append(err)
                shape = [("progress" if re.fullmatch(PROGRESS, line) else line) for line in out.splitlines()]
                # How many progress lines there are, and where the completion
                # line falls among them, is the machine's timing.
                self.assertIn("progress", shape, out)
                shapes.append([s for s in shape if s != "progress"])
                for path in os.listdir(scratch.path):
                    os.remove(scratch.file(path))
        self.assertEqual(shapes[0], shapes[1])
        self.assertEqual(errs[0], errs[1])
        self.assertEqual(shapes[0][0], "VORLAX: writing buffered 1024K buffers in 1 threads up to 1 GB each")
        self.assertEqual(shapes[0][-1], "DONE!")
        self.assertFalse(any("latency" in line or "stall" in line for line in shapes[0]))

    def test_a_failed_thread_is_in_the_record(self):
        with support.Scratch() as scratch:
            prefix = scratch.file("sink")
            fifos = support.FifoFiles(prefix, 1, "drain")
            os.mkdir(prefix + "_01.BIN")  # a folder where thread 1's file goes
            try:
                record_path = scratch.file("r.json")
                done = subprocess.run([support.vorlax_exe(), "--json", record_path, "B", prefix, "1024", "2", "1"],
                                      capture_output=True, text=True, timeout=300)
            finally:
                fifos.close()
            self.assertEqual(done.returncode, 1, done.stderr)
            record = load_valid(self, record_path)
            self.assertEqual(record["exit_status"], 1)
            self.assertEqual([t["result"] for t in record["threads"]], ["completed", "open_failed"])
            self.assertIn("sink_01.BIN", record["threads"][1]["reason"])
            self.assertIn(record["threads"][1]["reason"], done.stderr)

    def test_a_run_stopped_by_ctrl_c_records_what_there_is(self):
        with support.Scratch() as scratch:
            record_path = scratch.file("r.json")

            sent = []

            def interrupt(running, fifos, out):
                if support.progress_line_count(out) == 1 and not sent:  # once: a second Ctrl-C ends it at once
                    running.send_signal(signal.SIGINT)
                    sent.append(True)
            status, out, err = run_into_fifos(scratch, ["--json", record_path], mode="trickle", steer=interrupt)
            if status == -signal.SIGINT:
                self.skipTest("this build ends at once on Ctrl-C, with no record: it has no stop request")
            record = load_valid(self, record_path)
            self.assertEqual(record["stopped"], "interrupt")
            self.assertEqual([t["result"] for t in record["threads"]], ["stopped"] * 2)
            self.assertEqual(record["exit_status"], status)
            self.assertGreater(record["latency"]["blocks"], 0)
            self.assertLess(record["total_mb"], 2048)

    def test_a_record_it_cannot_write_is_refused_before_the_first_byte(self):
        """A folder's name, a missing folder, the run's own test file, and (as nobody) root's file in a sticky
        folder: exit 2, advice that fits, no byte written, no .part."""
        programs = [support.vorlax_exe(), support.vorlax_read_exe()]
        if os.environ.get("VORLAX_MPI_EXE") and shutil.which("mpiexec"):
            programs.append(os.environ["VORLAX_MPI_EXE"])
        env = dict(os.environ, OMPI_ALLOW_RUN_AS_ROOT="1", OMPI_ALLOW_RUN_AS_ROOT_CONFIRM="1")
        as_nobody = os.geteuid() == 0 and subprocess.run([support.vorlax_exe(), "--version"], capture_output=True,
                                                         user=65534).returncode == 0
        with support.Scratch() as scratch:
            os.mkdir(scratch.file("folder"))
            with open(scratch.file("run_00.BIN"), "wb") as test_file:  # for vorlax-read: a file it would read
                test_file.truncate(64 << 10)
            with open(scratch.file("root.json"), "w") as owned:
                owned.write("root's\n")
            os.chmod(scratch.path, 0o1777)  # sticky, as /dev/shm and /tmp
            for program in programs:
                mpi = "mpi" in os.path.basename(program)
                cases = [("folder", "name a file, not a folder", None),
                         (os.path.join("missing", "r.json"), "check that its folder exists", None),
                         ("run_r0000_00.BIN" if mpi else "run_00.BIN", "name another file", None)]
                if as_nobody and not mpi:
                    cases.append(("root.json", "choose another name", 65534))
                for name, advice, user in cases:
                    with self.subTest(program=os.path.basename(program), name=name):
                        command = [program, "--json", scratch.file(name), "B", scratch.file("run"), "64", "1", "1"]
                        if mpi:
                            command = ["mpiexec", "--oversubscribe", "-n", "2"] + command
                        done = subprocess.run(command, capture_output=True, text=True, timeout=300, env=env,
                                              user=user)
                        self.assertEqual(done.returncode, 2, done.stderr)
                        self.assertIn(scratch.file(name) + ": cannot write the run record: ", done.stderr)
                        self.assertIn("; " + advice + "\n", done.stderr)
                        self.assertNotIn("DONE!", done.stdout)
                        self.assertEqual(sorted(os.listdir(scratch.path)), ["folder", "root.json", "run_00.BIN"])
                        self.assertEqual(os.path.getsize(scratch.file("run_00.BIN")), 64 << 10)

    def test_a_device_or_fifo_is_written_into_and_a_link_onto_its_target(self):
        """Never replaced by a file: a character device of the test's own (the null device) stays one, a FIFO's
        reader gets the record, a link stays a link and its target holds the record."""
        with support.Scratch() as scratch:
            device, fifo, link = scratch.file("null"), scratch.file("fifo"), scratch.file("r.json")
            try:
                os.mknod(device, 0o666 | stat.S_IFCHR, os.makedev(1, 3))
            except PermissionError:
                device = None
            os.mkfifo(fifo)
            os.symlink("target.json", link)
            reader = subprocess.Popen(["cat", fifo], stdout=subprocess.PIPE, text=True)
            for name in [n for n in (device, fifo, link) if n]:
                with self.subTest(name=os.path.basename(name)):
                    done = subprocess.run([support.vorlax_exe(), "--json", name, "B", scratch.file("run"), "64",
                                           "1", "1"], capture_output=True, text=True, timeout=300)
                    self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(json.loads(reader.communicate(timeout=60)[0])["exit_status"], 0)
            if device:
                self.assertTrue(stat.S_ISCHR(os.stat(device).st_mode))
            self.assertTrue(os.path.islink(link))
            self.assertEqual(load_valid(self, scratch.file("target.json"))["total_mb"], 1024)
            self.assertFalse([name for name in os.listdir(scratch.path) if name.endswith(".part")])

    def test_a_record_that_fails_at_the_end_leaves_no_part(self):
        """The name became a folder during the run: exit 1, the advice fits, nothing left beside it."""
        with support.Scratch() as scratch:
            record_path = scratch.file("r.json")

            def make_folder(running, fifos, out):
                if not os.path.exists(record_path):
                    os.mkdir(record_path)
            status, out, err = run_into_fifos(scratch, ["--json", record_path], steer=make_folder)
            self.assertEqual(status, 1, err)
            self.assertRegex(err, re.escape(record_path) + r": cannot write the run record: .*; name a file, not a "
                             r"folder\n")
            self.assertFalse(os.path.exists(record_path + ".part"))

    def test_a_worker_still_in_its_block_has_its_times_left_out(self):
        """Its figures may still change: the record takes only those of the workers that counted out."""
        with support.Scratch() as scratch:
            record_path = scratch.file("r.json")
            sent = []

            def stall_then_interrupt(running, fifos, out):
                if support.progress_line_count(out) == 1 and not sent:
                    fifos.set_mode("stall")  # every write waits from now on: the stop's grace runs out
                    running.send_signal(signal.SIGINT)
                    sent.append(True)
            status, out, err = run_into_fifos(scratch, ["--latency", "--json", record_path], mode="trickle",
                                              steer=stall_then_interrupt)
            self.assertEqual(status, 130, err)
            self.assertIn("not waited for", err)
            record = load_valid(self, record_path)
            running = [t for t in record["threads"] if t["result"] == "running"]
            self.assertTrue(running)
            self.assertEqual(record["latency"]["blocks"],
                             sum(t["blocks"] for t in record["threads"] if t["result"] != "running"))
            # The block in hand is a stall of at least the grace, not finished; the thread says why it runs.
            unfinished = [(s["thread"], s["block"]) for s in record["latency"]["stalls"]["longest"]
                          if not s["finished"] and s["ms"] >= 3000]
            self.assertEqual(sorted(unfinished), [(t["index"], t["blocks"]) for t in running])
            self.assertEqual({t["reason"] for t in running}, {"still in a block after 3 s, not waited for"})
            self.assertRegex(out, r"\nstalls of 100 ms or more: .*, not finished\)\nDONE!\n$")

    def test_vorlax_read_records_its_reads(self):
        with support.Scratch() as scratch:
            prefix = scratch.file("run")
            subprocess.run([support.vorlax_exe(), "B", prefix, "64", "1", "1"], check=True, capture_output=True)
            record_path = scratch.file("r.json")
            done = subprocess.run([support.vorlax_read_exe(), "--latency", "--json", record_path, "B", prefix,
                                   "64", "1", "1"], capture_output=True, text=True, timeout=300)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertRegex(done.stdout, "\n" + LATENCY + "\n" + STALLS + "\nDONE!\n$")
            record = load_valid(self, record_path)
            self.assertEqual((record["program"], record["latency"]["blocks"]), ("vorlax-read", 16384))
            self.assertEqual([t["result"] for t in record["threads"]], ["completed"])
            # One byte changed: exit 1, and the thread's result says so, not only its reason.
            with open(prefix + "_00.BIN", "r+b") as test_file:
                test_file.seek(5 * 65536 + 100)
                test_file.write(b"\xee")
            done = subprocess.run([support.vorlax_read_exe(), "--json", record_path, "B", prefix, "64", "1", "1"],
                                  capture_output=True, text=True, timeout=300)
            self.assertEqual(done.returncode, 1, done.stderr)
            thread = load_valid(self, record_path)["threads"][0]
            self.assertEqual(thread["result"], "bad_blocks")
            self.assertIn("1 bad block of 16384 read", thread["reason"])

    def test_options_it_cannot_take(self):
        for args in (["--json"], ["--json="], ["--stall-ms", "0"], ["--stall-ms=12x"], ["--stall-ms"]):
            with self.subTest(args=args):
                done = subprocess.run([support.vorlax_exe(), *args, "B"], capture_output=True, text=True)
                self.assertEqual(done.returncode, 2, done.stdout)
                self.assertNotIn("Traceback", done.stderr)


if __name__ == "__main__":
    unittest.main()
