"""Runs vorlax or vorlax-read once over one set of test files, as the
sweep and the fill do: its settings, its output read as it comes, and
what became of it (a Pass), with the verdicts said of it."""

import os
import subprocess
from dataclasses import dataclass, field
from typing import Callable, List, Optional

from vorlax_errors import os_reason
from vorlax_log import OTHER, Failure, LogError, LogParser, Run, Sample, failure_of, run_label
from vorlax_record import latency_of_file


@dataclass
class Settings:
    """One vorlax command line but its prefix."""
    mode: str        # "B" or "U"
    block_kb: int
    threads: int
    size_gb: int

    def label(self) -> str:
        return run_label(self.mode, self.block_kb, self.threads)

    def total_mb(self) -> int:
        return self.threads * self.size_gb * 1024

    def arguments(self, prefix: str) -> List[str]:
        return [self.mode, prefix, str(self.block_kb), str(self.threads), str(self.size_gb)]


@dataclass
class Pass:
    """One program's run over the files: a write or a read."""
    exit_status: int
    final: Optional[Sample]         # the last progress line, if any
    log_path: str
    messages: List[str] = field(default_factory=list)   # the program's stderr lines
    unreadable: Optional[str] = None  # why its log gave no run (LogError), None when it did
    latency: Optional[dict] = None  # its record's block times (docs/record.md), when it wrote one
    run: Optional[Run] = None       # its log as parsed, None when it gave no run

    def ok(self) -> bool:
        return self.exit_status == 0 and self.final is not None

    def failure(self) -> Optional[Failure]:
        """Its first message that is not a note, with its kind; None when none."""
        return failure_of(self.messages)


class Stopped(KeyboardInterrupt):
    """A Ctrl-C or SIGTERM that stopped run_pass; done is the Pass so far
    (exit status 130)."""

    def __init__(self, done: Pass):
        super().__init__()
        self.done = done


def _pass_of(exit_status: int, parser: LogParser, log_path: str) -> Pass:
    try:
        run = parser.finish()[-1]
        return Pass(exit_status, run.final(), log_path, parser.messages, run=run)
    except LogError as error:
        return Pass(exit_status, None, log_path, parser.messages, str(error))


_TAKES_RECORDS = {}


def takes_records(program: str) -> bool:
    """True when program's --help offers --json (an older build does not)."""
    if program not in _TAKES_RECORDS:
        try:
            help_text = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60).stdout
        except (OSError, subprocess.SubprocessError):
            help_text = ""
        _TAKES_RECORDS[program] = "--json" in help_text
    return _TAKES_RECORDS[program]


def run_pass(program: str, prefix: str, settings: Settings, log_path: str,
             on_sample: Callable[[Sample], None]) -> Pass:
    """Runs program once with settings, stdout and stderr together into
    log_path, calling on_sample for each progress line as it arrives; the
    run is parsed as it comes (the Pass's run). Where program takes --json,
    its run record goes beside the log (.json for .log) and its block times
    into the Pass. A Ctrl-C (KeyboardInterrupt) stops the program, then
    raises Stopped with what it had written."""
    parser = LogParser(log_path)
    record_path = os.path.splitext(log_path)[0] + ".json" if takes_records(program) else None
    options = ["--json", record_path] if record_path else []
    with open(log_path, "w") as log:
        process = subprocess.Popen([program] + options + settings.arguments(prefix), stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, errors="replace")
        try:
            for line in process.stdout:
                log.write(line)
                log.flush()  # the log as far as the program got, for whoever reads it meanwhile
                sample = parser.feed(line)
                if sample:
                    on_sample(sample)
            exit_status = process.wait()
        except BaseException as error:
            process.terminate()
            process.wait()
            if isinstance(error, KeyboardInterrupt):
                raise Stopped(_pass_of(130, parser, log_path)) from None
            raise
        finally:
            process.stdout.close()
    done = _pass_of(exit_status, parser, log_path)
    done.latency = latency_of_file(record_path) if record_path else None
    return done


def test_file_names(prefix: str, threads: int) -> List[str]:
    return ["%s_%02d.BIN" % (prefix, index) for index in range(threads)]


def remove_files(names: List[str]) -> List[str]:
    """Removes those of names that exist; "name: reason" for each it could
    not remove (a read-only file system, a folder without permission),
    never an exception."""
    left = []
    for name in names:
        try:
            if os.path.lexists(name):
                os.remove(name)
        except OSError as error:
            left.append("%s: %s" % (name, os_reason(error)))
    return left


def write_status(write: Pass) -> str:
    """"ok"; "failed (exit 1): full disk"; "failed: no progress line (why)"
    for a program that ended well but printed no progress line."""
    if write.exit_status == 0:
        return "ok" if write.final else "failed: no progress line (%s)" % write.unreadable
    failure = write.failure()
    return "failed (exit %d)%s" % (write.exit_status, ": " + failure.kind if failure and failure.kind != OTHER else "")


def read_verdict(read: Optional[Pass]) -> str:
    """pass: every file whole and every block right; fail: vorlax-read found
    something wrong (exit 1) or could not run."""
    if read is None:
        return "not read"
    return {0: "pass", 1: "fail"}.get(read.exit_status, "fail (exit %d)" % read.exit_status)
