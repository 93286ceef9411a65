"""What the tools' command lines share: the ending of a tool (one line on
stderr and its exit status for a ToolError, 130 for Ctrl-C, 143 for
SIGTERM) and the writing of a whole output file."""

import os
import signal
import sys

from vorlax_log import ToolError

BAD_INPUT = 2   # exit status of a ToolError whose input is wrong


def write_whole(path: str, text: str) -> None:
    """Writes path through a temporary name beside it, so that it is whole or absent."""
    temporary = path + ".tmp"
    try:
        with open(temporary, "w", encoding="utf-8") as out:
            out.write(text)
        os.replace(temporary, path)
    except OSError as error:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise ToolError("cannot write %s: %s; is its folder there and writable?" % (path, error.strerror or error))


def _terminated(number, frame):
    sys.exit(143)


def run_tool(program: str, main, argv) -> int:
    """main(argv)'s exit status; a ToolError as "program: reason" on stderr
    and its exit_status (1 unless it says), Ctrl-C 130, SIGTERM 143."""
    signal.signal(signal.SIGTERM, _terminated)
    try:
        return main(argv)
    except ToolError as error:
        print("%s: %s" % (program, error), file=sys.stderr)
        return getattr(error, "exit_status", 1)
    except KeyboardInterrupt:
        return 130
