"""vorlax-sweep's command: runs vorlax over modes, block sizes and thread
counts on one folder and tabulates the results (see man vorlax-sweep);
tools/vorlax-sweep launches it."""

import argparse
import os
import sys
import time

from vorlax_cli import find_vorlax, find_vorlax_read, mode_list, number_list, program_origin
from vorlax_errors import error_text
from vorlax_log import ToolError
from vorlax_signals import ignore_stops, exit_help, out_dir_problem, RUNS_FELL_SHORT, stopped_status, stopped_text
import vorlax_sweep as sweep
from vorlax_runner import remove_files
from vorlax_machine import available_mb, gather, program_version
from vorlax_progress import Progress


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="vorlax-sweep",
        description="Runs vorlax over a matrix of modes, block sizes and thread counts on one folder, reads "
                    "each run back with vorlax-read, and writes a table (Markdown, CSV, JSON) of the sustained "
                    "MB/s with a bar chart.",
        epilog=exit_help("every run wrote all its blocks and every read passed", RUNS_FELL_SHORT, "nothing run",
                         "no vorlax found, no such folder, a DIR with an earlier sweep (man vorlax-sweep)",
                         "the results hold the runs that finished"))
    parser.add_argument("folder", help="folder on the disk to measure; the test files go there")
    parser.add_argument("-m", "--modes", type=mode_list, default=["B", "U"], help="default B,U")
    parser.add_argument("-b", "--blocks", type=number_list(1, 32768, "block sizes in KB"),
                        default=[4, 64, 1024, 32768], metavar="KB,...", help="default 4,64,1024,32768")
    parser.add_argument("-t", "--threads", type=number_list(1, 99, "thread counts"), default=[1, 2],
                        metavar="N,...", help="default 1,2")
    parser.add_argument("-s", "--size", type=number_list(1, 63, "file sizes in GB"), default=[1],
                        metavar="GB", help="size of each test file in GB (default 1)")
    parser.add_argument("-r", "--runs", type=number_list(1, 99, "runs per cell"), default=[1], metavar="N",
                        help="run each cell N times, each on fresh files; the table gives the median, the best "
                             "and the spread (default 1)")
    parser.add_argument("-q", "--quick", action="store_true",
                        help="a short sweep: modes B,U x blocks 64,1024 x 1 thread x 1 GB")
    parser.add_argument("-o", "--out", metavar="DIR",
                        help="folder for results.md, .csv and .json, the chart and logs/ "
                             "(default vorlax-sweep-<date>-<time>)")
    parser.add_argument("--chart", default="results.svg", metavar="NAME",
                        help="chart file name in DIR, .svg or .png (default results.svg)")
    parser.add_argument("-k", "--keep", action="store_true", help="keep the test files of each run")
    parser.add_argument("--vorlax", metavar="PATH",
                        help="the vorlax binary (default: next to this tool, on PATH, or build/vorlax)")
    parser.add_argument("--vorlax-read", metavar="PATH",
                        help="the vorlax-read binary that reads each run back (default: vorlax-read beside vorlax)")
    parser.add_argument("--no-read", action="store_true", help="write only: leave out the reads")
    parser.add_argument("--no-chart", action="store_true", help="write the tables only, without matplotlib")
    parser.add_argument("--force", action="store_true",
                        help="write into a DIR that holds an earlier sweep: its results and logs are removed first")
    arguments = parser.parse_args(argv)
    if len(arguments.size) != 1:
        parser.error("--size takes one size")
    if len(arguments.runs) != 1:
        parser.error("--runs takes one number")
    if arguments.quick:
        arguments.modes, arguments.blocks, arguments.threads, arguments.size = ["B", "U"], [64, 1024], [1], [1]
    return arguments


class Refusal(ToolError):
    """A sweep that cannot start as asked: its results' folder (exit status 2, as for any bad input)."""


def prepare_out_dir(out_dir, force):
    """Makes out_dir/logs; refuses a folder that cannot be written, or
    with an earlier sweep's results or logs unless force, which removes
    them."""
    from vorlax_results import RESULT_NAMES
    problem = out_dir_problem(out_dir, True, "-o")
    if problem:
        raise Refusal(problem)
    logs = os.path.join(out_dir, "logs")
    earlier = [name for name in RESULT_NAMES if os.path.exists(os.path.join(out_dir, name))]
    old_logs = sorted(os.listdir(logs)) if os.path.isdir(logs) else []
    if (earlier or old_logs) and not force:
        raise Refusal("%s holds an earlier sweep (%s): name a new folder with -o, or add --force to replace it"
                      % (out_dir, ", ".join(earlier + (["logs/"] if old_logs else []))))
    for name in earlier:
        os.remove(os.path.join(out_dir, name))
    for name in old_logs:
        os.remove(os.path.join(logs, name))
    os.makedirs(logs, exist_ok=True)


def folder_state(folder):
    """(GB free for this user, why it cannot be written or None)."""
    stat = os.statvfs(folder)
    unwritable = "read-only file system" if stat.f_flag & os.ST_RDONLY else \
        None if os.access(folder, os.W_OK | os.X_OK) else "permission denied"
    return stat.f_bavail * stat.f_frsize / 2.0 ** 30, unwritable


def find_reader(arguments, vorlax):
    """(vorlax-read or None, what results.md says of the reads)."""
    if arguments.no_read:
        return None, "not measured (--no-read)"
    reader = find_vorlax_read(arguments.vorlax_read, vorlax)
    if reader is None:
        note = "no vorlax-read beside %s: writes only; build it, name it with --vorlax-read, or leave reads " \
               "out with --no-read" % vorlax
        print("vorlax-sweep: note: %s" % note, file=sys.stderr)
        return None, "not measured: " + note.split(":")[0]
    return reader, "each run's files read back by %s, every block checked" % reader


def check_charts(arguments):
    """Makes sure the chart can be drawn before the first run."""
    if arguments.no_chart:
        return
    from vorlax_charts import ChartError, load_pyplot, check_output_path
    check_output_path(arguments.chart)
    try:
        load_pyplot()
    except ChartError:
        raise Refusal("matplotlib is missing, so no chart can be drawn: install python3-matplotlib (Debian) and "
                      "run the tool with /usr/bin/python3, or add --no-chart to write the tables only") from None


def main(argv, tool_folder):
    arguments = parse_arguments(argv)
    start = time.monotonic()
    try:
        check_charts(arguments)
        vorlax = find_vorlax(arguments.vorlax, tool_folder)
        reader, reads = find_reader(arguments, vorlax)
        if not os.path.isdir(arguments.folder):
            raise sweep.SweepError("%s: not a folder; name an existing folder on the disk to measure"
                                   % arguments.folder)
        out_dir = arguments.out or time.strftime("vorlax-sweep-%Y%m%d-%H%M%S")
        prepare_out_dir(out_dir, arguments.force)
    except (ToolError, OSError) as error:  # bad input: nothing run
        print("vorlax-sweep: %s" % error_text(error), file=sys.stderr)
        return 2
    measured = gather(arguments.folder, vorlax, reads)
    available = available_mb()
    from vorlax_sweep_chart import memory_notes
    free_gb, unwritable = folder_state(measured.folder)
    for note in memory_notes(arguments.modes, arguments.threads, arguments.size[0], measured,
                             available / 1024.0 if available else None, free_gb, unwritable):
        print("vorlax-sweep: note: %s" % note, file=sys.stderr)
    from vorlax_results import SweepPlan
    programs = {"vorlax": {"path": vorlax, "version": measured.vorlax_version,
                           "found": program_origin(vorlax, arguments.vorlax, tool_folder)}}
    if reader:
        programs["vorlax-read"] = {"path": reader, "version": program_version(reader),
                                   "found": "named on the command line" if arguments.vorlax_read else "beside vorlax"}
    plan = SweepPlan(sys.argv[:1] + list(argv), arguments.modes, arguments.blocks, arguments.threads,
                     arguments.size[0], arguments.runs[0],
                     {"keep": arguments.keep, "reads": reader is not None, "chart": None if arguments.no_chart
                      else arguments.chart, "out": out_dir, "memory_available_mb": available}, programs)
    prefix = os.path.join(measured.folder, sweep.PREFIX_NAME)
    cells = sweep.matrix(arguments.modes, arguments.blocks, arguments.threads, arguments.size[0])
    repeats = arguments.runs[0]
    # Round by round, every cell once a round: a slow drift of the disk
    # spreads over all cells, and an interrupted sweep has every cell once.
    runs = [(repeat, number, settings) for repeat in range(1, repeats + 1)
            for number, settings in enumerate(cells, 1)]
    progress = Progress(len(runs), 2 if reader else 1)
    results, logs = [], []
    interrupted = False
    try:
        for count, (repeat, number, settings) in enumerate(runs, 1):
            progress.start(count, settings, repeat, repeats)
            logs = [os.path.join(out_dir, "logs", sweep.log_name(number, settings, repeat, repeats, reading))
                    for reading in (False, True)]
            result = sweep.run_cell(vorlax, reader, prefix, settings, repeat, logs, arguments.keep, progress)
            results.append(result)
            progress.finish(result)
    except KeyboardInterrupt:
        interrupted = True
        plan.stopped = "%s during run %d of %d" % (stopped_text(), len(results) + 1, len(runs))
        cut = [path for path in logs if os.path.exists(path)]
        # Its records (--json) go with its logs.
        remove_files(cut + [p for p in (os.path.splitext(log)[0] + ".json" for log in logs) if os.path.exists(p)])
        plan.cut_log = ("the stopped run's log (%s) was removed: it held a run cut short" % ", ".join(
            os.path.relpath(path, out_dir) for path in cut) if cut else "the stopped run had written no log")
        progress.say("%s; the table holds the %d finished; %s" % (plan.stopped, len(results), plan.cut_log))
    ignore_stops()  # the table is written whole
    try:
        from vorlax_results import write_outputs
        written = write_outputs(results, measured, repeats, out_dir, None if arguments.no_chart else arguments.chart,
                                plan)
    except (ToolError, OSError) as error:
        print("vorlax-sweep: %s" % error_text(error), file=sys.stderr)
        return 1
    with open(written[0]) as table:
        sys.stdout.write(table.read())
    print("\nwrote %s in %s" % (", ".join(written), sweep.elapsed_text(start)))
    if interrupted:
        return stopped_status()
    good = all(r.write.ok() and (r.read is None or r.read.exit_status == 0) for r in results)
    return 0 if good else 1

