"""What a sweep and a fill show while they run, on stderr: a line redrawn
in place on a terminal, a plain line per run and result otherwise."""

from typing import Optional

import vorlax_fill as fills
from vorlax_cli import LiveLine
from vorlax_log import Sample
from vorlax_runner import Settings, read_verdict, write_status
from vorlax_sweep import Result


class Progress(LiveLine):
    """vorlax-sweep's: which run is on and how many remain. phases is 2 when
    each run is written and read back, 1 when it is only written."""

    def __init__(self, total_runs: int, phases: int = 1, stream=None):
        super().__init__("vorlax-sweep", stream)
        self.total_runs = total_runs
        self.phases = phases
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
            self.say("run %d of %d (%d left after it): %s, %d GB each%s" % (
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
        self.draw("[%-30s] run %d/%d, %d left: %s%s" % (
            bar, self.number, self.total_runs, self.total_runs - self.number, what, figures))

    def finish(self, result: Result) -> None:
        final = result.write.final
        text = ("%d MB/s sustained over %.1f s" % (final.sustained_mbps, final.elapsed_s)
                if final else "no progress line") + ", " + write_status(result.write)
        if result.read:
            final = result.read.final
            text += "; read %s, %s" % ("%d MB/s over %.1f s" % (final.sustained_mbps, final.elapsed_s)
                                       if final else "no progress line", read_verdict(result.read))
        self.say("run %d of %d: %s: %s" % (self.number, self.total_runs, result.settings.label(), text))


class Status(LiveLine):
    """vorlax-fill's live line on a terminal (stderr): GB done of the total,
    the rate now and so far, the time left; a plain line per run otherwise."""

    def __init__(self, total_gb, runs, stream=None):
        super().__init__("vorlax-fill", stream)
        self.total_mb, self.runs = total_gb * 1024, runs
        self.before_mb = self.before_s = 0.0
        self.run_mb = self.run_s = 0.0
        self.what = "write"
        self.recent = [(0.0, 0.0)]   # (s, MB) of the fill's progress lines over the last RECENT_S: the time left
        self.number, self.settings = 0, None

    def start(self, number, settings):
        self.number, self.settings = number, settings
        self.before_mb += self.run_mb
        self.before_s += self.run_s
        self.run_mb = self.run_s = 0.0

    def restart(self, what):
        self.what, self.before_mb, self.before_s, self.run_mb, self.run_s = what, 0.0, 0.0, 0.0, 0.0
        self.recent = [(0.0, 0.0)]

    def sample(self, sample):
        self.run_mb, self.run_s = float(sample.total_mb), sample.elapsed_s
        done_mb, done_s = self.before_mb + self.run_mb, self.before_s + self.run_s
        self.recent = fills.recent_points(self.recent, done_s, done_mb)
        if not self.terminal:
            return
        so_far = done_mb / done_s if done_s > 0 else 0.0
        left_s = fills.time_left_s(self.recent, self.total_mb - done_mb)
        left = fills.duration_text(left_s) if left_s is not None else "?"
        self.draw("%s: %.1f of %.0f GB, run %d of %d, now %d MB/s, so far %.0f MB/s, %s left" % (
            self.what, done_mb / 1024, self.total_mb / 1024, self.number + 1, self.runs,
            sample.incremental_mbps, so_far, left))

    def done(self, one):
        final = one.write.final
        self.say("run %d of %d: %d GB per file, %s, %s" % (
            self.number + 1, self.runs, one.settings.size_gb,
            "%d MB at %d MB/s sustained in %.1f s" % (final.total_mb, final.sustained_mbps, final.elapsed_s)
            if final else "no progress line", write_status(one.write)))
