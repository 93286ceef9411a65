"""A loop-device ext4 for the end-to-end tests and benchmarks: its backing
file in memory (or $TMPDIR), mounted in a scratch folder, its speed held by
the kernel's block-I/O throttle (cgroup v1 blkio, else v2 io.max); all
removed on exit. Needs root, loop devices and mkfs.ext4."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

import support

MB = 1 << 20
GIB = 1 << 30


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout.strip()


class Throttle:
    """A cgroup whose processes' writes (and reads) of one device are held to
    rates the test sets (cgroup v1 blkio, else v2 io.max)."""

    def __init__(self, device_number, name="fill"):
        self.device = "%d:%d" % device_number
        name = "vorlax-%s-test-%d" % (name, os.getpid())
        if os.path.exists("/sys/fs/cgroup/blkio/blkio.throttle.write_bps_device"):
            self.path = "/sys/fs/cgroup/blkio/" + name
            self.files = {"w": ("blkio.throttle.write_bps_device", "%s %d"),
                          "r": ("blkio.throttle.read_bps_device", "%s %d")}
        elif "io" in read_text("/sys/fs/cgroup/cgroup.subtree_control").split():
            self.path = "/sys/fs/cgroup/" + name
            self.files = {"w": ("io.max", "%s wbps=%d"), "r": ("io.max", "%s rbps=%d")}
        else:
            raise unittest.SkipTest("no block-I/O throttle: neither cgroup v1 blkio nor v2 io.max")
        os.mkdir(self.path)

    def set(self, mb_s, direction="w"):
        """Holds writes ("w") or reads ("r") to mb_s MB/s."""
        name, form = self.files[direction]
        with open(os.path.join(self.path, name), "w") as limit:
            limit.write(form % (self.device, int(mb_s * MB)))

    def join(self):
        """For Popen(preexec_fn=): the new process joins the group."""
        with open(os.path.join(self.path, "cgroup.procs"), "w") as procs:
            procs.write(str(os.getpid()))

    def remove(self):
        for _ in range(100):
            try:
                os.rmdir(self.path)
                return
            except FileNotFoundError:
                return
            except OSError:
                time.sleep(0.1)  # its last process is still leaving


def read_text(path):
    try:
        with open(path) as text:
            return text.read()
    except OSError:
        return ""


class LoopDisk:
    """An ext4 of size_gb on a loop device, its backing file in /dev/shm (or
    $TMPDIR), mounted in a scratch folder, with a throttle; all removed on
    exit."""

    def __init__(self, size_gb, name="fill"):
        self.size_gb, self.name = size_gb, name

    def __enter__(self):
        if os.geteuid() != 0 or not all(shutil.which(p) for p in ("losetup", "mkfs.ext4", "mount")):
            raise unittest.SkipTest("loop devices need root, losetup, mkfs.ext4 and mount")
        base = "/dev/shm" if os.path.isdir("/dev/shm") else os.environ.get("TMPDIR", "/tmp")
        self.scratch = tempfile.mkdtemp(prefix="vorlax-%s-e2e-" % self.name, dir=base)
        self.image, self.mount, self.out = (os.path.join(self.scratch, n) for n in ("disk.img", "mnt", "out"))
        self.device = self.throttle = None
        try:
            os.mkdir(self.mount)
            with open(self.image, "wb") as image:
                image.truncate(self.size_gb * GIB)
            run("mkfs.ext4", "-q", "-F", "-m", "0", self.image)  # no blocks kept for root: free is free
            try:
                self.device = run("losetup", "--find", "--show", self.image)
            except subprocess.CalledProcessError as error:
                raise unittest.SkipTest("losetup cannot attach a loop device here: %s" % error.stderr.strip())
            run("mount", self.device, self.mount)
            number = os.stat(self.device).st_rdev
            self.throttle = Throttle((os.major(number), os.minor(number)), self.name)
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        if self.throttle:
            self.throttle.remove()
        if self.device:
            subprocess.run(["umount", self.mount], capture_output=True)
            subprocess.run(["losetup", "--detach", self.device], capture_output=True)
        shutil.rmtree(self.scratch, ignore_errors=True)

    def state(self):
        """What the test checks the fill leaves as it found: names and free bytes."""
        os.sync()
        stat = os.statvfs(self.mount)
        return sorted(os.listdir(self.mount)), stat.f_bavail * stat.f_frsize

    def written_mb(self):
        """MB in the fill's files so far."""
        names = [n for n in os.listdir(self.mount) if n.startswith("vorlax-fill-")]
        return sum(os.path.getsize(os.path.join(self.mount, n)) for n in names if os.path.exists(
            os.path.join(self.mount, n))) / MB

    def start_fill(self, *args, env=None):
        command = [os.path.join(support.TOOLS, "vorlax-fill"), "--vorlax", support.vorlax_exe(),
                   "--vorlax-read", support.vorlax_read_exe(), "--out", self.out, *args, self.mount]
        return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                preexec_fn=self.throttle.join, env=dict(os.environ, **(env or {})))

    def wait_written(self, process, mb, timeout=120):
        """Until the fill's files hold mb; False when it ended or time ran out."""
        deadline = time.monotonic() + timeout
        while self.written_mb() < mb:
            if process.poll() is not None or time.monotonic() > deadline:
                return False
            time.sleep(0.01)
        return True
