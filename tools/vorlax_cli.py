"""What every tool does at its command line, beside the stops and the
exit of vorlax_signals: the launcher's end, the checks argparse calls for
numbers and modes, where the programs are, and the live line on stderr."""

import argparse
import os
import shutil
import sys
from typing import List, Optional

from vorlax_log import ToolError
from vorlax_signals import run_tool


def launch(program: str, main, argv: List[str], tool_folder: str) -> None:
    """Exits with main(argv, tool_folder)'s status as run_tool() gives it:
    the stops caught from the start, a ToolError as one line on stderr."""
    sys.exit(run_tool(program, lambda arguments: main(arguments, tool_folder), argv))


def _in_range(values: List[int], low: int, high: int, what: str, text: str) -> List[int]:
    if not values or any(not low <= value <= high for value in values):
        raise argparse.ArgumentTypeError("%s must be %d to %d, got %r" % (what, low, high, text))
    return values


def whole_number(low: int, high: int, what: str):
    """An argparse type: one whole number from low to high (what names it)."""
    def parse(text):
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError("%s must be a whole number, got %r" % (what, text))
        return _in_range([value], low, high, what, text)[0]
    return parse


def number_list(low: int, high: int, what: str):
    """An argparse type: comma-separated whole numbers, each low to high."""
    def parse(text):
        try:
            values = [int(word) for word in text.split(",") if word.strip()]
        except ValueError:
            raise argparse.ArgumentTypeError("%r is not a comma-separated list of %s" % (text, what))
        return _in_range(values, low, high, what, text)
    return parse


MODES = ("B", "U")


def mode(text: str) -> str:
    """An argparse type: B (buffered) or U (unbuffered), either case."""
    if text.upper() not in MODES:
        raise argparse.ArgumentTypeError("the mode is B (buffered) or U (unbuffered), got %r" % text)
    return text.upper()


def mode_list(text: str) -> List[str]:
    """An argparse type: comma-separated modes."""
    modes = [word.strip().upper() for word in text.split(",") if word.strip()]
    if not modes or any(one not in MODES for one in modes):
        raise argparse.ArgumentTypeError("modes are B (buffered) and U (unbuffered), got %r" % text)
    return modes


def _executable(path: Optional[str]) -> bool:
    return bool(path) and os.path.isfile(path) and os.access(path, os.X_OK)


def _given_program(given: str, fix: str) -> str:
    """The program named on the command line, as a path; raises ToolError
    naming the fix when it is not one."""
    if shutil.which(given) is None:
        raise ToolError("%s: not an executable program; %s" % (given, fix))
    return os.path.abspath(given) if os.sep in given else shutil.which(given)


def find_vorlax(given: Optional[str], tool_folder: str) -> str:
    """The vorlax binary: given, else the one next to the tool (an
    install), else build/vorlax of the source tree the tool lives in, else
    the one on PATH: a tool run from the tree runs the tree's build, never
    an installed copy. Raises ToolError when there is none."""
    if given:
        return _given_program(given, "name the vorlax binary with --vorlax")
    for candidate in (os.path.join(tool_folder, "vorlax"), os.path.join(tool_folder, "..", "build", "vorlax"),
                      shutil.which("vorlax")):
        if _executable(candidate):
            return os.path.normpath(candidate)
    raise ToolError("no vorlax binary next to this tool, in build/ or on PATH; name it with --vorlax")


def program_origin(program: str, given: Optional[str], tool_folder: str) -> str:
    """How find_vorlax() chose program, for the record."""
    if given:
        return "named on the command line"
    if os.path.dirname(program) == os.path.normpath(tool_folder):
        return "beside the tool"
    if os.path.normpath(program) == os.path.normpath(os.path.join(tool_folder, "..", "build", "vorlax")):
        return "the source tree's build"
    return "PATH"


def find_vorlax_read(given: Optional[str], vorlax: str, leave_out: str = "with --no-read") -> Optional[str]:
    """The vorlax-read binary: given, else vorlax-read in vorlax's folder;
    None when that one is not there. Raises ToolError for a given one that
    is not a program, saying how the tool leaves reads out (leave_out)."""
    if given:
        return _given_program(given, "name the vorlax-read binary with --vorlax-read, or leave reads out %s"
                              % leave_out)
    beside = os.path.join(os.path.dirname(vorlax), "vorlax-read")
    return beside if _executable(beside) else None


class LiveLine:
    """A line on stderr redrawn in place on a terminal, and lines of their
    own ("program: text") clear of it; off a terminal only the latter."""

    def __init__(self, program: str, stream=None):
        self.program = program
        self.stream = stream if stream is not None else sys.stderr
        self.terminal = self.stream.isatty()

    def draw(self, text: str) -> None:
        """Replaces the live line with text (call it on a terminal only)."""
        self.stream.write("\r\033[K" + text)
        self.stream.flush()

    def clear(self) -> None:
        """Takes the live line off the terminal."""
        if self.terminal:
            self.stream.write("\r\033[K")
            self.stream.flush()

    def say(self, text: str) -> None:
        """A line of its own, clear of the live line."""
        self.clear()
        self.stream.write("%s: %s\n" % (self.program, text))
        self.stream.flush()
