"""What a sweep says it measured: the mount behind a folder and the memory,
from hand-made /proc texts."""

import unittest

import support  # noqa: F401  (puts tools/ on the path)
from vorlax_machine import Measured, cpu_model, memory_mb, mount_entry, mount_of

MOUNTINFO = """22 27 0:21 / /proc rw,relatime - proc proc rw
27 1 253:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw
25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw,size=24683784k
40 27 7:0 / /mnt/my\\040disk rw,relatime shared:9 master:2 - xfs /dev/loop0 rw
41 27 253:1 /srv /mnt/bound rw,relatime - ext4 /dev/vda1 rw
42 27 0:23 / /dev/shm rw,relatime - tmpfs shm rw
broken line
"""


class Mounts(unittest.TestCase):
    def test_mount_of_a_folder(self):
        cases = [
            ((253, 1), "/home/me", ("ext4", "/dev/vda1")),
            ((7, 0), "/mnt/my disk/run", ("xfs", "/dev/loop0")),  # escaped space, optional fields
            ((7, 0), "/mnt/my diskette", ("ext4", "/dev/vda1")),  # a prefix of the name is not the folder
            ((0, 23), "/dev/shm/x", ("tmpfs", "shm")),            # mounted over: the last one counts
            ((0, 99), "/mnt/bound/a", ("ext4", "/dev/vda1")),     # no number matches: the mount point decides
            ((253, 1), "/mnt/bound", ("ext4", "/dev/vda1")),
        ]
        for number, path, expected in cases:
            with self.subTest(path=path):
                self.assertEqual(mount_of(MOUNTINFO, number, path), expected)
        self.assertEqual(mount_of("", (8, 1), "/x"), ("unknown", "unknown"))
        # The mount's options and the file system's, for results.json.
        self.assertEqual(mount_entry(MOUNTINFO, (0, 23), "/dev/shm/x"), ("tmpfs", "shm", "rw,relatime rw"))
        self.assertEqual(mount_entry(MOUNTINFO, (0, 23), "/dev/shmx")[2], "rw,relatime rw")  # / holds it
        self.assertEqual(cpu_model("processor\t: 0\nmodel name\t: Some CPU @ 2.0GHz\nflags: x\n"),
                         "Some CPU @ 2.0GHz")
        self.assertEqual(cpu_model("processor : 0\n"), "")

    def test_memory_and_texts(self):
        self.assertEqual(memory_mb("MemFree: 5 kB\nMemTotal:       24683784 kB\n"), 24105)
        self.assertEqual(memory_mb("nothing\n"), 0)
        measured = Measured("/d", "ext4", "/dev/sda1", "Disk X", "2026-12-07", "VORLAX 1.0.0", 1, 0, "")
        self.assertEqual((measured.disk_text(), measured.machine_text()),
                         ("ext4 on /dev/sda1 (Disk X)", "1 core, memory unknown"))


if __name__ == "__main__":
    unittest.main()
