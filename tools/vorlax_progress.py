"""What a sweep shows while it runs, on stderr: a bar redrawn in place on a
terminal, a plain line per run and result otherwise."""

import sys
from typing import Optional

from vorlax_log import Sample
from vorlax_sweep import Result, Settings, read_verdict, write_status


class Progress:
    """Which run is on and how many remain. phases is 2 when each run is
    written and read back, 1 when it is only written."""

    def __init__(self, total_runs: int, phases: int = 1, stream=sys.stderr):
        self.total_runs = total_runs
        self.phases = phases
        self.stream = stream
        self.terminal = stream.isatty()
        self.number = 0
        self.phase_index = 0
        self.phase_name = "write"
        self.settings: Optional[Settings] = None

    def start(self, number: int, settings: Settings, repeat: int = 1, repeats: int = 1) -> None:
        self.number, self.settings = number, settings
        self.phase_index, self.phase_name = 0, "write"
        if self.terminal:
            self.sample(None)
        else:
            self._say("run %d of %d (%d left after it): %s, %d GB each%s" % (
                number, self.total_runs, self.total_runs - number, settings.label(), settings.size_gb,
                ", repeat %d of %d" % (repeat, repeats) if repeats > 1 else ""))

    def phase(self, name: str) -> None:
        """"write" or "read": what the run does from now on."""
        self.phase_index, self.phase_name = (1, name) if name == "read" else (0, name)
        if self.terminal:
            self.sample(None)

    def sample(self, sample: Optional[Sample]) -> None:
        if not self.terminal:
            return
        part = min(1.0, sample.total_mb / self.settings.total_mb()) if sample else 0.0
        done = (self.number - 1 + (self.phase_index + part) / self.phases) / self.total_runs
        bar = "#" * int(done * 30)
        figures = " %5.1f s %5d MB/s" % (sample.elapsed_s, sample.sustained_mbps) if sample else ""
        what = self.settings.label() + (" " + self.phase_name if self.phases > 1 else "")
        self.stream.write("\r\033[K[%-30s] run %d/%d, %d left: %s%s" % (
            bar, self.number, self.total_runs, self.total_runs - self.number, what, figures))
        self.stream.flush()

    def finish(self, result: Result) -> None:
        final = result.write.final
        text = ("%d MB/s sustained over %.1f s" % (final.sustained_mbps, final.elapsed_s)
                if final else "no progress line") + ", " + write_status(result.write)
        if result.read:
            final = result.read.final
            text += "; read %s, %s" % ("%d MB/s over %.1f s" % (final.sustained_mbps, final.elapsed_s)
                                       if final else "no progress line", read_verdict(result.read))
        if self.terminal:
            self.stream.write("\r\033[K")
        self._say("run %d of %d: %s: %s" % (self.number, self.total_runs, result.settings.label(), text))

    def say(self, text: str) -> None:
        """A line of its own, clear of the bar."""
        if self.terminal:
            self.stream.write("\r\033[K")
        self._say(text)

    def _say(self, text: str) -> None:
        self.stream.write("vorlax-sweep: %s\n" % text)
        self.stream.flush()
