"""vorlax-report's command: turns VORLAX records into one HTML page (see
man vorlax-report); tools/vorlax-report launches it."""

import argparse
import sys

from vorlax_signals import exit_help, stopped_status, stopped_text


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="vorlax-report",
        description="Turns records of VORLAX runs into one HTML file that needs nothing else: each run, fill and "
                    "sweep with its charts, settings and machine, and a comparison of records of one kind.",
        epilog=exit_help("the page was written", "the page could not be written", "no page written",
                         "a RECORD that cannot be read or shown, or -o naming a RECORD", "no page written"))
    parser.add_argument("records", nargs="+", metavar="RECORD",
                        help="a --json record of vorlax, vorlax-read or vorlax-mpi, a fill.json or a results.json")
    parser.add_argument("-o", "--output", default="report.html", metavar="HTML",
                        help="the page to write (default report.html)")
    parser.add_argument("-t", "--title", help="title of the page (default: VORLAX report and the records' names)")
    return parser.parse_args(argv)


def main(argv, tool_folder):
    try:
        arguments = parse_arguments(argv)
        from vorlax_report_html import write_report
        count = write_report(arguments.records, arguments.output, arguments.title)
    except KeyboardInterrupt:
        print("vorlax-report: %s; no page written" % stopped_text(), file=sys.stderr)
        return stopped_status()
    print("%s: %d record%s" % (arguments.output, count, "" if count == 1 else "s"))
    return 0

