"""How the tools stop: Ctrl-C and SIGTERM both raise KeyboardInterrupt in
the tool, which stops its program and writes what it has; the exit status
then says which stopped it (130 for Ctrl-C, 143 for SIGTERM). The start of
the tools' common command-line module, with the check of their results'
folder, the writing of a file whole and the ending of a tool on a
ToolError (one line on stderr and its exit status)."""

import os
import signal
import sys
import tempfile
from typing import Optional

from vorlax_log import ToolError

_stopped_by = []   # the first signal that stopped the tool


def _stop(signal_number, frame):
    _stopped_by.append(signal_number)
    raise KeyboardInterrupt


def _unraisable(report, default=sys.unraisablehook) -> None:
    """A stop raised where Python cannot pass it on (a callback during an
    import) is no fault to report: run_tool() ends on it all the same."""
    if not issubclass(report.exc_type, KeyboardInterrupt):
        default(report)


def catch_stops() -> None:
    """From now on Ctrl-C and SIGTERM raise KeyboardInterrupt."""
    sys.unraisablehook = _unraisable
    signal.signal(signal.SIGINT, _stop)
    signal.signal(signal.SIGTERM, _stop)


def ignore_stops() -> None:
    """From now on both are ignored: what follows (clean-up, results) is
    done whole."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGTERM, signal.SIG_IGN)


def stopped_status() -> int:
    """143 when SIGTERM stopped the tool, else 130 (Ctrl-C)."""
    return 143 if _stopped_by and _stopped_by[0] == signal.SIGTERM else 130


# What status 1 means for the tools that run vorlax (vorlax-sweep, vorlax-fill).
RUNS_FELL_SHORT = "a run failed or fell short, a read found a fault, or the results could not be written"


def exit_help(done: str, short: str, nothing: str, bad_input: str, stopped: str) -> str:
    """A tool's --help line of its exit statuses, in the words all tools
    share (their man pages say the same): 0 done, 1 fell short, 2 bad
    input (a wrong command line first), 130 Ctrl-C, 143 SIGTERM; each tool
    tells what they mean for it ("the page was written", "no page
    written")."""
    return ("exit status: 0 %s; 1 %s; 2 bad input, %s: a wrong command line, %s; 130 Ctrl-C, 143 SIGTERM: %s"
            % (done, short, nothing, bad_input, stopped))


def stopped_text() -> str:
    """"terminated (SIGTERM)" or "interrupted (Ctrl-C)": what stopped the tool."""
    return "terminated (SIGTERM)" if stopped_status() == 143 else "interrupted (Ctrl-C)"


def out_dir_problem(out_dir: str, exists_ok: bool, option: str) -> Optional[str]:
    """Makes out_dir (a folder that exists will do when exists_ok) and
    proves this user can write in it; None when so, else the one line that
    says why not and names option (--out, -o) as the fix."""
    if os.path.lexists(out_dir) and not os.path.isdir(out_dir):
        reason = "it is a file, not a folder"
    else:
        try:
            os.makedirs(out_dir, exist_ok=exists_ok)
            descriptor, probe = tempfile.mkstemp(dir=out_dir, prefix=".vorlax-probe-")
            os.close(descriptor)
            os.remove(probe)
            return None
        except OSError as error:
            reason = error.strerror or str(error)
    return "%s: cannot write the results there: %s; name another folder with %s" % (out_dir, reason, option)


def write_whole(path: str, text: str) -> None:
    """Writes path through a temporary name beside it, so that it is whole
    or absent; OSError as open and write give it."""
    temporary = path + ".tmp"
    try:
        with open(temporary, "w", encoding="utf-8") as out:
            out.write(text)
        os.replace(temporary, path)
    except BaseException:  # a failed write, or a stop during it
        if os.path.exists(temporary):
            os.remove(temporary)
        raise


def run_tool(program: str, main, argv) -> int:
    """main(argv)'s exit status, with the stops caught: a ToolError as
    "program: reason" on stderr and its exit_status (1 unless it has one),
    Ctrl-C 130 and SIGTERM 143 with one line that says so where main did
    not catch the stop itself (or Python dropped it: raised in a callback).
    Once main has ended, the stops are ignored."""
    catch_stops()
    try:
        try:
            status = main(argv)
        except ToolError as error:
            print("%s: %s" % (program, error), file=sys.stderr)
            status = getattr(error, "exit_status", 1)
    except KeyboardInterrupt:
        ignore_stops()
        print("%s: %s; stopped" % (program, stopped_text()), file=sys.stderr)
        return stopped_status()
    ignore_stops()
    if _stopped_by and status not in (130, 143):
        print("%s: %s; stopped" % (program, stopped_text()), file=sys.stderr)
        return stopped_status()
    return status
