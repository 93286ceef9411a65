"""vorlax-fill's command: writes the free space of a disk with vorlax runs
back to back and reports the phases of the write speed (see man
vorlax-fill); tools/vorlax-fill launches it."""

import argparse
import os
import sys
import time

from vorlax_cli import find_vorlax, find_vorlax_read, mode, whole_number
from vorlax_errors import error_text
from vorlax_log import ToolError, message_kind, notes
from vorlax_signals import ignore_stops, exit_help, out_dir_problem, RUNS_FELL_SHORT, stopped_status, stopped_text
import vorlax_fill as fills
from vorlax_runner import Settings, read_verdict
from vorlax_machine import gather
from vorlax_progress import Status


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="vorlax-fill",
        description="Writes the free space of FOLDER's file system with vorlax runs back to back, then reports "
                    "the phases of the write speed: how fast, for how many GB, where the fast phase ended and "
                    "where the speed dipped. Its files are deleted at the end unless --keep. On the file system "
                    "of / or of your home it needs --size. After the build: ./build/vorlax-fill.",
        epilog=exit_help("every run wrote all its blocks and every read passed", RUNS_FELL_SHORT, "nothing run",
                         "a FOLDER it cannot fill, too little free space (man vorlax-fill)",
                         "the results hold what was written"))
    parser.add_argument("folder", metavar="FOLDER", help="folder on the disk to fill")
    parser.add_argument("--size", type=whole_number(1, 1 << 30, "the size in GB"), metavar="GB",
                        help="write at most this many GB (default: the free space less a margin)")
    parser.add_argument("--mode", type=mode, default="U", metavar="U|B", help="U unbuffered (default), B buffered")
    parser.add_argument("--block-kb", type=whole_number(1, 32768, "the block size in KB"), default=1024, metavar="KB",
                        help="block size (default 1024)")
    parser.add_argument("--threads", type=whole_number(1, 99, "the thread count"), default=1, metavar="N",
                        help="files written at once in each run (default 1)")
    parser.add_argument("--read", action="store_true", help="read every file back with vorlax-read before it is "
                        "deleted: its speed on the chart and the verdict of every byte")
    parser.add_argument("--keep", action="store_true", help="keep the files the fill wrote (they are deleted "
                        "anyway when a run met a full disk, so that the disk is not left full)")
    parser.add_argument("--out", metavar="DIR", help="folder for fill.json, fill.md, fill.png, fill.svg, "
                        "fill.log and, with --read, fill-read.log (default vorlax-fill-<date>-<time> here)")
    parser.add_argument("--vorlax", metavar="PATH",
                        help="the vorlax binary (default: next to this tool, on PATH, or build/vorlax)")
    parser.add_argument("--vorlax-read", metavar="PATH", help="the vorlax-read binary (default: beside vorlax)")
    return parser.parse_args(argv)


def system_file_systems(folder):
    """What of "/" and the user's home lives on folder's file system."""
    device = os.stat(folder).st_dev
    held = []
    for name, path in (("/", "/"), ("your home", os.path.expanduser("~"))):
        try:
            if os.stat(path).st_dev == device:
                held.append(name)
        except OSError:
            pass
    return held


def prepare(arguments, tool_folder):
    """(vorlax, vorlax-read or None, folder, measured, plan, out_dir);
    raises Refusal (exit 2) or ToolError (exit 1)."""
    vorlax = find_vorlax(arguments.vorlax, tool_folder)
    reader = None
    if arguments.read:
        reader = find_vorlax_read(arguments.vorlax_read, vorlax, "by leaving out --read")
        if reader is None:
            raise ToolError("--read: no vorlax-read beside %s; name it with --vorlax-read" % vorlax)
    folder = os.path.realpath(arguments.folder)
    fills.check_folder(folder, "")
    measured = gather(folder, vorlax, "read back by %s, every block checked" % reader if reader else "not read")
    fills.check_folder(folder, measured.fs_type)
    free, size = fills.space_of(folder)
    largest = os.environ.get("VORLAX_FILL_FILE_GB", str(fills.MAX_FILE_GB))
    if not largest.isdigit() or not 1 <= int(largest) <= fills.MAX_FILE_GB:
        raise ToolError("VORLAX_FILL_FILE_GB=%s: the largest file must be 1 to %d GB" % (
            largest, fills.MAX_FILE_GB))
    fills.check_system_disk(folder, arguments.size, system_file_systems(folder), free, size)
    plan = fills.make_plan(free, size, arguments.threads, arguments.block_kb, arguments.size, int(largest))
    fills.check_names(folder, len(plan.run_gb), arguments.threads)
    out_dir = arguments.out or time.strftime("vorlax-fill-%Y%m%d-%H%M%S")
    problem = out_dir_problem(out_dir, bool(arguments.out), "--out")
    if problem:
        raise fills.Refusal(problem)
    for name in ("fill.log", "fill-read.log"):
        if os.path.exists(os.path.join(out_dir, name)):
            os.remove(os.path.join(out_dir, name))
    return vorlax, reader, folder, measured, plan, out_dir


def say_notes(status, passes, said):
    """Each kind of note of the programs on screen, once."""
    for one in passes:
        for line in notes(one.messages):
            if message_kind(line) not in said:
                said.add(message_kind(line))
                status.say(line)


def finish(arguments, status, fill, plan, folder):
    """Deletes or keeps the files, saying which; the lines to say."""
    if arguments.keep and not fill.full_disk:
        kept = [name for name in fill.made if os.path.exists(name)]
        if kept:
            status.say("kept %d file%s in %s: %s" % (len(kept), "" if len(kept) == 1 else "s", folder,
                                                     ", ".join(os.path.basename(name) for name in kept)))
        return
    left = fills.remove_made(fill)
    if arguments.keep:
        status.say("deleted the fill's files despite --keep: %s, and a full disk is left to no one" % fill.full_disk)
    for line in left:
        status.say("could not delete %s" % line)


def run(arguments, tool_folder):
    try:
        vorlax, reader, folder, measured, plan, out_dir = prepare(arguments, tool_folder)
    except fills.Refusal as refusal:
        print("vorlax-fill: %s" % refusal, file=sys.stderr)
        return 2
    except (ToolError, OSError) as error:
        print("vorlax-fill: %s" % error_text(error), file=sys.stderr)
        return 1
    settings = Settings(arguments.mode, arguments.block_kb, arguments.threads, 0)
    print("vorlax-fill: %s" % fills.plan_text(plan, folder, settings), flush=True)
    status, said = Status(plan.total_gb(), len(plan.run_gb)), set()
    fill, interrupted, start, wall_s = fills.Fill(), None, time.monotonic(), None

    def done(one):
        say_notes(status, [one.write], said)
        status.done(one)
    try:
        fills.fill_runs(vorlax, folder, plan, settings, out_dir, fill, status.start, status.sample, done)
        wall_s = time.monotonic() - start
        if reader and fill.runs:
            status.restart("read")
            fills.read_back(reader, fill, out_dir, status.start, status.sample)
            say_notes(status, [one.read for one in fill.runs if one.read], said)
    except KeyboardInterrupt:
        wall_s = wall_s or time.monotonic() - start
        interrupted = "%s %s" % (stopped_text(), "while reading back" if status.what == "read" else
                                 "during run %d of %d" % (status.number + 1, len(plan.run_gb)))
    ignore_stops()  # clean-up and results are done whole
    if interrupted:
        status.say(interrupted)
    if fill.stopped:
        status.say(fill.stopped)
    finish(arguments, status, fill, plan, folder)
    status.clear()
    from vorlax_phases import analyse_runs
    from vorlax_phase_text import summary_lines
    from vorlax_fill_report import read_summary, write_outputs
    analysis = analyse_runs(fill.samples())
    from vorlax_record import name_slowest_blocks
    name_slowest_blocks(analysis.dips, fill.samples())
    written, failure = write_outputs(out_dir, fill, plan, settings, measured, analysis, wall_s, interrupted)
    for line in summary_lines(analysis) + ([read_summary(fill)] if read_summary(fill) else []):
        print(line)
    logs = [os.path.join(out_dir, name) for name in ("fill.log", "fill-read.log")
            if os.path.exists(os.path.join(out_dir, name))]
    print("wrote %s" % ", ".join(written + logs))
    if failure:
        print("vorlax-fill: %s" % failure, file=sys.stderr)
    if interrupted:
        return stopped_status()
    reads_bad = any(one.read and read_verdict(one.read) != "pass" for one in fill.runs)
    return 1 if fill.stopped or reads_bad or failure else 0


def main(argv, tool_folder):
    arguments = parse_arguments(argv)
    try:
        return run(arguments, tool_folder)
    except OSError as error:  # the results' folder or the log went away, or filled up
        print("vorlax-fill: %s" % error_text(error), file=sys.stderr)
        return 1

