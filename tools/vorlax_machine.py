"""What a sweep measured: the folder, its file system and the device behind
it, the date, the VORLAX version and the machine's cores and memory. The
parsing of /proc texts is pure; gather() reads them."""

import os
import subprocess
import time
from dataclasses import asdict, dataclass
from typing import Dict, Optional, Tuple


@dataclass
class Measured:
    folder: str
    fs_type: str            # "ext4", "tmpfs", ...; "unknown" where the system does not say
    device: str             # the mount's source: "/dev/nvme0n1p2", "tmpfs", ...
    device_model: str       # the disk's model from sysfs, "" when it has none
    date: str               # local time the sweep started, "2026-12-07 08:10:00 +0000"
    vorlax_version: str     # what `vorlax --version` printed, "VORLAX 1.0.0"
    cores: int
    memory_mb: int          # 0 when unknown
    reads: str              # how the files were read back, or why they were not
    host: str = ""
    kernel: str = ""        # the system's release, "6.1.0-18-amd64"
    cpu_model: str = ""     # /proc/cpuinfo's model name, "" where it has none
    mount_options: str = ""  # the mount's and the file system's options, "rw,relatime rw,size=1024k"
    backing_file: str = ""  # a loop device's backing file, "" for other devices

    def as_dict(self) -> Dict[str, object]:
        return asdict(self)

    def disk_text(self) -> str:
        """"ext4 on /dev/vda1 (model)", "tmpfs on tmpfs"."""
        model = " (%s)" % self.device_model if self.device_model else ""
        return "%s on %s%s" % (self.fs_type, self.device, model)

    def machine_text(self) -> str:
        memory = "%.1f GB memory" % (self.memory_mb / 1024.0) if self.memory_mb else "memory unknown"
        return "%d core%s, %s" % (self.cores, "" if self.cores == 1 else "s", memory)


def _unescape(text: str) -> str:
    """mountinfo writes space, tab, newline and backslash as octal escapes."""
    for code in ("040", "011", "012", "134"):
        text = text.replace("\\" + code, chr(int(code, 8)))
    return text


def mount_of(mountinfo: str, device_number: Tuple[int, int], path: str) -> Tuple[str, str]:
    """(file system type, source) of mount_entry()."""
    return mount_entry(mountinfo, device_number, path)[:2]


def mount_entry(mountinfo: str, device_number: Tuple[int, int], path: str) -> Tuple[str, str, str]:
    """(file system type, source) of the mount that holds path, from the text
    of /proc/self/mountinfo: among the mounts of path's device number, the
    one whose mount point is the longest prefix of path (the last one
    mounted wins a tie); by mount point alone when the number matches none.
    ("unknown", "unknown") when nothing fits. The third field: the mount's
    options and the file system's ("" when nothing fits)."""
    best: Optional[Tuple[int, int, int, str, str, str]] = None
    for order, line in enumerate(mountinfo.splitlines()):
        fields = line.split()
        if "-" not in fields[6:]:
            continue
        dash = fields.index("-", 6)
        if len(fields) < dash + 3:
            continue
        point = _unescape(fields[4])
        inside = path == point or path.startswith(point.rstrip("/") + "/")
        if not inside:
            continue
        same_device = fields[2] == "%d:%d" % device_number
        options = " ".join([fields[5]] + fields[dash + 3:dash + 4])
        rank = (int(same_device), len(point), order, fields[dash + 1], _unescape(fields[dash + 2]), options)
        if best is None or rank[:3] > best[:3]:
            best = rank
    return (best[3], best[4], best[5]) if best else ("unknown", "unknown", "")


def memory_mb(meminfo: str, key: str = "MemTotal") -> int:
    """MemTotal (or key) of /proc/meminfo in MB (2^20 bytes); 0 when absent."""
    for line in meminfo.splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] == key + ":" and words[1].isdigit():
            return int(words[1]) // 1024
    return 0


def available_mb() -> int:
    """MemAvailable now, in MB; 0 when unknown."""
    return memory_mb(_read("/proc/meminfo"), "MemAvailable")


def _read(path: str) -> str:
    try:
        with open(path) as text:
            return text.read()
    except OSError:
        return ""


def device_model(source: str) -> str:
    """The model that sysfs gives for a /dev/ source (or for the disk its
    partition is on), "" when there is none."""
    if not source.startswith("/dev/"):
        return ""
    name = os.path.basename(os.path.realpath(source))
    block = os.path.realpath(os.path.join("/sys/class/block", name))
    for folder in (block, os.path.dirname(block)):
        model = _read(os.path.join(folder, "device", "model")).strip()
        if model:
            return model
    return ""


def cpu_model(cpuinfo: str) -> str:
    """The first "model name" of /proc/cpuinfo, "" when there is none."""
    for line in cpuinfo.splitlines():
        key, _, value = line.partition(":")
        if key.strip() == "model name":
            return value.strip()
    return ""


def backing_file(source: str) -> str:
    """The backing file of a /dev/loopN source, "" for any other."""
    name = os.path.basename(source)
    return _read("/sys/block/%s/loop/backing_file" % name).strip() if name.startswith("loop") else ""


def program_version(program: str) -> str:
    try:
        done = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.SubprocessError):
        return "unknown"
    lines = done.stdout.strip().splitlines()
    return lines[0] if done.returncode == 0 and lines else "unknown"


def mount_of_path(path: str) -> Tuple[str, str, str]:
    """mount_entry() of the folder path (its real path) on this machine."""
    folder = os.path.realpath(path)
    number = os.stat(folder).st_dev
    return mount_entry(_read("/proc/self/mountinfo"), (os.major(number), os.minor(number)), folder)


def gather(folder: str, vorlax: str, reads: str) -> Measured:
    folder = os.path.realpath(folder)
    fs_type, source, options = mount_of_path(folder)
    system = os.uname()
    return Measured(folder, fs_type, source, device_model(source), time.strftime("%Y-%m-%d %H:%M:%S %z"),
                    program_version(vorlax), os.cpu_count() or 0, memory_mb(_read("/proc/meminfo")), reads,
                    system.nodename, system.release, cpu_model(_read("/proc/cpuinfo")), options,
                    backing_file(source))
