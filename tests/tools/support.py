"""What the tool tests share: the programs under test, scratch folders on
/dev/shm, real vorlax logs and picture sizes."""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

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


class Scratch:
    """A scratch folder on /dev/shm (else $TMPDIR), removed on exit."""

    def __enter__(self):
        base = "/dev/shm" if os.path.isdir("/dev/shm") else None
        self.path = tempfile.mkdtemp(prefix="vorlax-tools-", dir=base)
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, name):
        return os.path.join(self.path, name)


def run_tool(name, *args, stdin=None, cwd=None):
    """Runs tools/<name> with /usr/bin/python3 (its #! line); returns the
    CompletedProcess with text stdout and stderr."""
    return subprocess.run([os.path.join(TOOLS, name), *args], input=stdin, capture_output=True, text=True,
                          cwd=cwd, timeout=300)


def sink_run_log(scratch, threads=2, block_kb=1):
    """A real log of about three seconds: a buffered run into /dev/null
    symlinks (no memory used), with progress and completion lines."""
    prefix = scratch.file("sink")
    for index in range(threads):
        os.symlink("/dev/null", "%s_%02d.BIN" % (prefix, index))
    out = subprocess.run([vorlax_exe(), "B", prefix, str(block_kb), str(threads), "1"], capture_output=True,
                         text=True, check=True).stdout
    path = scratch.file("sink-%dt.log" % threads)
    with open(path, "w") as log:
        log.write(out)
    return path, out


def png_size(path):
    with open(path, "rb") as picture:
        head = picture.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n" and head[12:16] == b"IHDR", "not a PNG: %s" % path
    return struct.unpack(">II", head[16:24])


def svg_size_pt(path):
    root = ElementTree.parse(path).getroot()
    assert root.tag == "{http://www.w3.org/2000/svg}svg", root.tag
    return tuple(float(re.fullmatch(r"([\d.]+)pt", root.get(key)).group(1)) for key in ("width", "height"))
