"""vorlax-plot's command: draws saved VORLAX output as a picture (see man
vorlax-plot); tools/vorlax-plot launches it."""

import argparse
import os
import sys

from vorlax_log import ToolError, parse_file

from vorlax_signals import exit_help


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="vorlax-plot",
        description="Draws the incremental and sustained MB/s of saved VORLAX runs against elapsed time: their "
                    "output (a log) or the run record they write with --json (with the slowest block of each "
                    "second in a panel below).",
        # Bad input is 2, as a wrong command line: a file it cannot read, a picture it cannot be given.
        epilog=exit_help("the picture was written", "a run drawn fell short, or the picture could not be written",
                         "nothing drawn", "a LOG it cannot read", "nothing drawn"))
    parser.add_argument("logs", nargs="*", metavar="LOG",
                        help="saved output of vorlax, vorlax-read or vorlax-mpi, one or more runs each, or "
                             "the record one wrote with --json FILE; - or none reads stdin")
    parser.add_argument("-o", "--output", metavar="PICTURE",
                        help="picture to write, .svg or .png (default: beside the first LOG, its name with "
                             ".svg; vorlax-plot.svg in the current folder for stdin)")
    parser.add_argument("-l", "--label", action="append", default=[], metavar="TEXT",
                        help="label of the next run in order (repeat); default: mode, block size, threads")
    parser.add_argument("-t", "--title", help="title of the picture")
    parser.add_argument("--width", type=int, default=1000, metavar="PX", help="width in pixels (default 1000)")
    parser.add_argument("--height", type=int, default=560, metavar="PX", help="height in pixels (default 560)")
    parser.add_argument("--dpi", type=int, default=100, metavar="N",
                        help="dots per inch (default 100): text keeps its size in points, so a larger picture "
                             "with a higher dpi keeps its text legible (--width 3000 --dpi 300)")
    parser.add_argument("--phases", action="store_true",
                        help="the runs as one long write, back to back: print its phases, cliff and dips and "
                             "shade them on the chart")
    parser.add_argument("--x", choices=("s", "gb"), default=None,
                        help="horizontal axis: s, elapsed time (default), or gb, GB written (default with --phases)")
    return parser.parse_args(argv)


def default_output(logs):
    """Beside the first log, with its name and .svg; vorlax-plot.svg in the
    current folder for stdin."""
    if not logs or logs[0] == "-":
        return "vorlax-plot.svg"
    return os.path.splitext(logs[0])[0] + ".svg"


def main(argv, tool_folder):
    arguments = parse_arguments(argv)
    logs = arguments.logs or ["-"]
    output = arguments.output or default_output(arguments.logs)
    try:
        from vorlax_charts import check_output_path, check_size
        from vorlax_run_chart import plot_runs
        try:
            check_output_path(output)
            check_size(arguments.width, arguments.height, arguments.dpi)
            runs = [run for log in logs for run in parse_file(log)]
            if len(arguments.label) > len(runs):
                raise ToolError("%d label%s for %d run%s" % (len(arguments.label),
                                                             "" if len(arguments.label) == 1 else "s",
                                                             len(runs), "" if len(runs) == 1 else "s"))
        except ToolError as error:
            error.exit_status = 2  # nothing to draw, as the command line gives it
            raise
        if arguments.phases:
            from vorlax_phase_chart import plot_phases
            from vorlax_phases import analyse_runs
            from vorlax_phase_text import summary_lines
            analysis = analyse_runs(runs)
            print("\n".join(summary_lines(analysis)))
            plot_phases(runs, analysis, output, arguments.x or "gb", width_px=arguments.width,
                        height_px=arguments.height, title=arguments.title, dpi=arguments.dpi)
        else:
            plot_runs(runs, arguments.label, output, arguments.width, arguments.height, arguments.title,
                      arguments.x or "s", arguments.dpi)
    except ToolError as error:
        print("vorlax-plot: %s" % error, file=sys.stderr)
        return getattr(error, "exit_status", 1)
    short = [run for run in runs if run.shortfall()]
    for run in short:  # drawn, marked as such, and said
        print("vorlax-plot: %s: the run '%s' fell short: %s; drawn dotted" % (run.source, run.label(),
                                                                                run.shortfall()), file=sys.stderr)
    print("%s: %d run%s%s" % (output, len(runs), "" if len(runs) == 1 else "s",
                              ", %d fell short" % len(short) if short else ""))
    return 1 if short else 0

