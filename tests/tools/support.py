"""What the tool tests share: the programs under test, scratch folders on
/dev/shm, real vorlax logs and picture sizes."""

import fcntl
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import xml.etree.ElementTree as ElementTree

# A test run started in the background by a script (`cmd &`) inherits
# Ctrl-C ignored, and so would every tool the tests start: Python then never
# raises KeyboardInterrupt in them, and the tests that interrupt a tool wait
# in vain. A handled signal is set back to its default at exec, so handling
# it here gives each child the default a user at a terminal has.
if signal.getsignal(signal.SIGINT) == signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOLS = os.path.join(ROOT, "tools")
sys.path.insert(0, TOOLS)


def vorlax_exe():
    """$VORLAX_EXE, else the binary of the test build or of build/."""
    for candidate in (os.environ.get("VORLAX_EXE"), os.path.join(ROOT, "build", "test", "vorlax"),
                      os.path.join(ROOT, "build", "vorlax")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise RuntimeError("no vorlax binary: build it first (cmake --build build/test) or set VORLAX_EXE")


STUB_READ = os.path.join(ROOT, "tests", "tools", "stub-vorlax-read")


def vorlax_read_exe():
    """$VORLAX_READ_EXE, else vorlax-read beside the vorlax under test, else
    the stand-in tests/tools/stub-vorlax-read."""
    beside = os.path.join(os.path.dirname(vorlax_exe()), "vorlax-read")
    for candidate in (os.environ.get("VORLAX_READ_EXE"), beside):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return STUB_READ


def _takes_direct_io(folder):
    probe = os.path.join(folder, "direct-probe")
    try:
        os.close(os.open(probe, os.O_WRONLY | os.O_CREAT | os.O_DIRECT, 0o600))
        return True
    except OSError:
        return False
    finally:
        if os.path.exists(probe):
            os.remove(probe)


class Scratch:
    """A scratch folder on /dev/shm (else $TMPDIR, /tmp, /var/tmp), removed on
    exit. With unbuffered=True, the first of them that takes O_DIRECT files
    (older kernels refuse it on tmpfs); path is None when none does."""

    def __init__(self, unbuffered=False):
        self.unbuffered = unbuffered

    def __enter__(self):
        self.path = None
        for base in ("/dev/shm", os.environ.get("TMPDIR"), "/tmp", "/var/tmp"):
            if not base or not os.path.isdir(base):
                continue
            path = tempfile.mkdtemp(prefix="vorlax-tools-", dir=base)
            if not self.unbuffered or _takes_direct_io(path):
                self.path = path
                return self
            shutil.rmtree(path, ignore_errors=True)
        if not self.unbuffered:
            raise RuntimeError("no folder for scratch files")
        return self

    def __exit__(self, *exc):
        if self.path:
            shutil.rmtree(self.path, ignore_errors=True)

    def file(self, name):
        return os.path.join(self.path, name)


def run_tool(name, *args, stdin=None, cwd=None, env=None):
    """Runs tools/<name> with /usr/bin/python3 (its #! line); returns the
    CompletedProcess with text stdout and stderr."""
    return subprocess.run([os.path.join(TOOLS, name), *args], input=stdin, capture_output=True, text=True,
                          cwd=cwd, timeout=300, env=None if env is None else dict(os.environ, **env))


class FifoFiles:
    """FIFOs in place of a run's test files, drained by the test, so that the
    test and not the machine decides how long the run lasts. Each FIFO is
    drained as the mode says: "trickle" (a little at a time), "stall"
    (nothing: the writer waits in its write) or "drain" (as fast as it
    comes). With drain_bytes, each FIFO takes that many bytes and then holds
    whatever comes after, for runs one after another: the first run (which
    writes that many) ends, the next waits in its first write. It counts
    bytes, not openings, as a FIFO's reader sees no end while any writer has
    it open: the next run may open it before the reader saw the first one
    close it, and then writes into the same opening."""

    def __init__(self, prefix, threads, mode="trickle", drain_bytes=None):
        self.names = ["%s_%02d.BIN" % (prefix, index) for index in range(threads)]
        self.mode, self.drain_bytes = mode, drain_bytes
        self.held = set()
        self.stopping = False
        self.changed = threading.Condition()
        for name in self.names:
            os.mkfifo(name)
        self.drainers = [threading.Thread(target=self._drain, args=(name,), daemon=True) for name in self.names]
        for drainer in self.drainers:
            drainer.start()

    def set_mode(self, mode):
        with self.changed:
            self.mode = mode
            self.changed.notify_all()

    def wait_held(self, timeout=120):
        """True once every FIFO holds bytes beyond its drain_bytes: the next
        run has begun and waits in its first write."""
        with self.changed:
            return self.changed.wait_for(lambda: len(self.held) == len(self.names), timeout)

    def close(self):
        """Drains what is left and stops the drainers."""
        with self.changed:
            self.stopping = True
            self.changed.notify_all()
        for name, drainer in zip(self.names, self.drainers):
            while drainer.is_alive():
                try:  # wakes a drainer waiting in open() for the next writer
                    os.close(os.open(name, os.O_WRONLY | os.O_NONBLOCK))
                except OSError:
                    pass
                drainer.join(0.05)

    def _mode(self):
        return "drain" if self.stopping else self.mode

    def _room(self, taken):
        """How many bytes the next read may take, taken having been read."""
        if self.stopping or self.drain_bytes is None:
            return 1 << 20
        return min(1 << 20, self.drain_bytes - taken)

    def _hold(self, fd, name):
        """Reads nothing more from fd until close(), noting when bytes wait
        in it. The opening stays: a next writer joins it rather than
        writing into a FIFO whose reader is going away."""
        waiting = select.poll()
        waiting.register(fd, select.POLLIN)
        with self.changed:
            while not self.stopping:
                if name not in self.held and any(event & select.POLLIN for _, event in waiting.poll(0)):
                    self.held.add(name)
                    self.changed.notify_all()
                self.changed.wait_for(lambda: self.stopping, 0.05)

    def _drain(self, name):
        taken = 0  # bytes read from this FIFO over all its openings
        while True:
            fd = os.open(name, os.O_RDONLY)
            try:
                fcntl.fcntl(fd, fcntl.F_SETPIPE_SZ, 1 << 20)  # fewer wake-ups once drained freely
            except OSError:
                pass
            while True:
                if self.drain_bytes is not None and taken >= self.drain_bytes:
                    self._hold(fd, name)
                with self.changed:
                    self.changed.wait_for(lambda: self._mode() != "stall")
                    mode = self._mode()
                chunk = os.read(fd, self._room(taken))
                if not chunk:
                    break
                taken += len(chunk)
                if mode == "trickle":
                    with self.changed:
                        self.changed.wait_for(lambda: self._mode() != "trickle", 0.05)
            os.close(fd)
            with self.changed:
                if self.stopping:
                    return


def progress_line_count(text):
    return sum(1 for line in text.splitlines() if re.fullmatch(r" *\d+\.\d{3}: .* incremental", line))


def controlled_run_log(scratch, program, threads=2, block_kb=1024, lines=2):
    """A real log of program ("B" mode into FIFOs the test drains): held to a
    trickle until it printed `lines` progress lines, then drained, so it has
    at least that many whatever the machine's speed."""
    prefix = scratch.file("sink")
    fifos = FifoFiles(prefix, threads)
    try:
        with subprocess.Popen([program, "B", prefix, str(block_kb), str(threads), "1"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True) as running:
            out = ""
            for line in running.stdout:
                out += line
                if progress_line_count(out) == lines:
                    fifos.set_mode("drain")
            fifos.set_mode("drain")
        if running.wait(timeout=300) != 0:
            raise RuntimeError("%s exited %d:\n%s" % (program, running.returncode, out))
    finally:
        fifos.close()
    path = scratch.file("sink-%dt.log" % threads)
    with open(path, "w") as log:
        log.write(out)
    return path, out


def sink_run_log(scratch, threads=2, block_kb=1024):
    """A real vorlax log with at least two progress lines and a completion
    line per thread."""
    return controlled_run_log(scratch, vorlax_exe(), threads, block_kb)


def png_size(path):
    with open(path, "rb") as picture:
        head = picture.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", "not a PNG: %s" % path
    return struct.unpack(">II", head[16:24])


def svg_size_pt(path):
    root = ElementTree.parse(path).getroot()
    assert root.tag == "{http://www.w3.org/2000/svg}svg", root.tag
    return tuple(float(re.fullmatch(r"([\d.]+)pt", root.get(key)).group(1)) for key in ("width", "height"))


def program_output(program, args, mount=None):
    """(stdout and stderr together, exit status) of a real run of program.
    With mount = (type, options, folder), e.g. ("tmpfs", "size=8m",
    scratch_folder), it runs in a mount namespace of its own with that file
    system on folder, gone when the run ends; SkipTest where there is no
    root or unshare."""
    command = [program, *args]
    if mount:
        if os.geteuid() != 0 or not shutil.which("unshare"):
            import unittest
            raise unittest.SkipTest("a file system of the test's own needs root and unshare(1)")
        command = ["unshare", "-m", "sh", "-c", 'mount -t "$1" -o "$2" vorlax-fill-test "$3" && shift 3 && exec "$@"',
                   "sh", *mount, *command]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=300)
    return done.stdout, done.returncode


def vorlax_mpi_run():
    """The command that starts vorlax-mpi beside the vorlax under test on two
    ranks, or None with the reason it is missing."""
    mpi = os.path.join(os.path.dirname(vorlax_exe()), "vorlax-mpi")
    if not os.access(mpi, os.X_OK):
        return None, "no vorlax-mpi beside %s (built by stage 40 where Open MPI is installed)" % vorlax_exe()
    if not shutil.which("mpirun"):
        return None, "no mpirun on PATH to start vorlax-mpi"
    return ["mpirun", "--oversubscribe", "--allow-run-as-root", "-n", "2", mpi], None
