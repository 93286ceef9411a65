"""The phase analysis, table by table, on series made up of spans of known
speed: what it must find, and what it must not invent."""

import json
import unittest

import numpy

import support  # noqa: F401  (puts tools/ on the path)
from vorlax_phase_text import gb_text, summary_lines
from vorlax_log import Run, Sample
from vorlax_phase_chart import rate_curve
from vorlax_phases import MIN_PHASE_S, analyse, chain, samples_of


def series(spans, noise=0.0, seed=0, interval_s=1.0):
    """Cumulative (seconds, MB) of spans [(seconds, MB/s), ...] sampled every
    interval_s, each rate off by up to +-noise (a fraction), MB in whole
    numbers as vorlax prints them. A span need not fill whole intervals:
    an interval it shares with the next has their mix."""
    rng = numpy.random.default_rng(seed)
    ends = numpy.cumsum([s for s, _ in spans])
    seconds = numpy.arange(1, int(round(ends[-1] / interval_s)) + 1) * interval_s

    def written(at):  # MB written by time at
        total, start = 0.0, 0.0
        for (length, rate), end in zip(spans, ends):
            total += rate * max(0.0, min(at, end) - start)
            start = end
        return total
    rates = numpy.diff(numpy.concatenate(([0.0], [written(t) for t in seconds]))) / interval_s
    rates *= 1.0 + rng.uniform(-noise, noise, len(rates))
    return seconds, numpy.floor(numpy.cumsum(rates * interval_s))


def change_gb(spans, upto):
    """GB written when span number upto starts."""
    return sum(s * r for s, r in spans[:upto]) / 1024.0


class Phases(unittest.TestCase):
    def phases_of(self, spans, seed, speeds):
        """The analysis of spans with 5 % noise and its summary, once its phases are checked to have speeds."""
        analysis = analyse(*series(spans, 0.05, seed))
        lines = summary_lines(analysis)
        self.assertEqual(len(analysis.phases), len(speeds), lines)
        for phase, speed in zip(analysis.phases, speeds):
            self.assertAlmostEqual(phase.mb_s, speed, delta=0.06 * speed)
        return analysis, lines

    def test_no_change_is_reported_as_none(self):
        cases = [  # name, spans, noise, seeds
            ("flat", [(120, 500)], 0.0, [0]),
            ("noise of +-15 %", [(300, 500)], 0.15, range(8)),
            ("long noisy run", [(3600, 2000)], 0.15, [1]),
            ("slow drift of 5 %", [(60, 1000), (60, 980), (60, 960), (60, 950)], 0.02, [2]),
            ("shorter than two minimum phases", [(5, 2000), (5, 500)], 0.0, [0]),
        ]
        for name, spans, noise, seeds in cases:
            for seed in seeds:
                with self.subTest(name, seed=seed):
                    analysis = analyse(*series(spans, noise, seed))
                    self.assertEqual((len(analysis.phases), analysis.cliff), (1, None), summary_lines(analysis))
                    self.assertEqual((analysis.phases[0].start_s, analysis.phases[0].end_s, analysis.phases[0].mb_s),
                                     (0.0, analysis.total_s, analysis.median_mb_s))
                    self.assertTrue(summary_lines(analysis)[0].startswith("no change of speed found in "),
                                    summary_lines(analysis))
        short = analyse(*series([(5, 2000), (5, 500)]))
        self.assertTrue(short.too_short)
        self.assertEqual(short.dips, [])
        self.assertIn("too short to tell", summary_lines(short)[0])

    def test_steps_are_found_within_one_sample(self):
        cases = [  # name, spans, noise, expected phase speeds, the span that ends at the cliff
            ("step down early", [(12, 2000), (100, 700)], 0.05, [2000, 700], 1),
            ("step down late", [(100, 3000), (9, 800)], 0.05, [3000, 800], 1),
            ("step down, noisy", [(40, 1500), (80, 500)], 0.15, [1500, 500], 1),
            ("down and back up", [(30, 1000), (30, 400), (30, 1000)], 0.05, [1000, 400, 1000], 1),
            ("up first, then the cliff", [(20, 300), (40, 1800), (60, 600)], 0.05, [300, 1800, 600], 2),
            ("cache, direct to TLC, folding", [(30, 3000), (40, 1200), (40, 400)], 0.05, [3000, 1200, 400], 1),
            ("half-second samples", [(20, 2000), (20, 600)], 0.05, [2000, 600], 1),
        ]
        for name, spans, noise, speeds, cliff_after in cases:
            for seed in range(3):
                with self.subTest(name, seed=seed):
                    interval = 0.5 if "half" in name else 1.0
                    analysis = analyse(*series(spans, noise, seed, interval))
                    self.assertEqual(len(analysis.phases), len(speeds), summary_lines(analysis))
                    for phase, speed, upto in zip(analysis.phases, speeds, range(1, len(spans) + 1)):
                        self.assertAlmostEqual(phase.mb_s, speed, delta=0.05 * speed)
                        if upto < len(spans):
                            self.assertAlmostEqual(phase.end_s, sum(s for s, _ in spans[:upto]), delta=interval)
                    cliff = analysis.cliff
                    true_gb = change_gb(spans, cliff_after)
                    self.assertLessEqual(abs(cliff.gb - true_gb), cliff.plus_minus_gb, summary_lines(analysis))
                    self.assertAlmostEqual(cliff.plus_minus_gb, cliff.from_mb_s * interval / 1024.0)
                    self.assertEqual(analysis.phases[0].start_gb, 0.0)
                    self.assertAlmostEqual(analysis.phases[-1].end_gb, analysis.total_gb)

    def test_short_phases_at_the_edges(self):
        for length in (3, 5, 7):
            cases = [  # where, spans, the phases' speeds
                ("fast start", [(length, 250), (80, 80)], [250, 80]),
                ("slow start", [(length, 40), (60, 300)], [40, 300]),
                ("fast end", [(60, 80), (length, 250)], [80, 250]),
                ("slow end", [(60, 300), (length, 50)], [300, 50]),
                ("both ends", [(length, 900), (40, 300), (length, 100)], [900, 300, 100]),
                ("start of a short run", [(length, 250), (9, 80)], [250, 80]),
            ]
            for where, spans, speeds in cases:
                for seed in range(3):
                    with self.subTest(where, seconds=length, seed=seed):
                        analysis, lines = self.phases_of(spans, seed, speeds)
                        for upto, phase in enumerate(analysis.phases[:-1], 1):
                            true_gb = change_gb(spans, upto)
                            self.assertLessEqual(abs(phase.end_gb - true_gb), phase.plus_minus_gb + 1e-9, lines)
                            self.assertEqual(phase.plus_minus_s, 1.0)
                            self.assertIn("(\u00b1 %s)" % gb_text(phase.plus_minus_gb), lines[upto])
                        self.assertEqual(analysis.dips, [], "the seconds beside an edge phase are no dip")

    def test_odd_last_seconds_are_no_end_phase(self):
        # The cut-short last interval (a run's last line) never counts toward the 3 an end phase needs,
        # and an end phase differs from the rest in each of its full intervals.
        cases = [  # name, spans (the last is cut short: 0.4 s), the phases' speeds
            ("one slow second, then the short last interval", [(20, 200), (1, 150), (0.4, 179)], [200]),
            ("a slow second alone", [(20, 200), (1, 150)], [200]),
            ("two slow seconds and the short interval", [(20, 200), (2, 150), (0.4, 150)], [200]),
            ("a slow second among fast ones", [(20, 200), (1, 150), (2, 200), (0.4, 150)], [200]),
            ("three slow seconds and the short interval", [(20, 200), (3, 120), (0.4, 120)], [200, 120]),
        ]
        for name, spans, speeds in cases:
            with self.subTest(name):
                seconds, total_mb = series([(s, r) for s, r in spans if s >= 1])
                if spans[-1][0] < 1:
                    seconds = numpy.append(seconds, seconds[-1] + spans[-1][0])
                    total_mb = numpy.append(total_mb, total_mb[-1] + spans[-1][0] * spans[-1][1])
                analysis = analyse(seconds, total_mb)
                self.assertEqual([round(p.mb_s) for p in analysis.phases], speeds, summary_lines(analysis))
                self.assertEqual(analysis.cliff is None, len(speeds) == 1)
        self.assertEqual(summary_lines(analyse([], [])), ["nothing measured: stopped before the first progress line"])

    def test_dips_are_found_wherever_they_fall(self):
        for offset in (0.0, 0.25, 0.5, 0.75):
            cases = [  # seconds of the dip, found
                (3.0, True), (2.0, offset != 0.5), (1.0, False)]  # 2 s at 0.5: two half-low intervals
            for seconds, found in cases:
                with self.subTest(offset=offset, seconds=seconds):
                    spans = [(15 + offset, 800), (seconds, 100), (30 - offset, 800)]
                    analysis = analyse(*series(spans, 0.02))
                    self.assertEqual(len(analysis.dips), int(found), analysis.dips)
                    if found:
                        self.assertLessEqual(abs(analysis.dips[0].start_s - 15 - offset), 1.0)
        # A slow phase that starts with its slowest seconds, right after the cliff: no dip.
        after = analyse(*series([(30, 250), (3, 30), (60, 80)]))
        self.assertEqual((len(after.phases), after.dips), (2, []), summary_lines(after))

    def test_dips_are_dips_not_phases(self):
        cases = [  # name, spans, phases, how many dips, the span of the longest
            ("2 s", [(30, 800), (2, 100), (30, 800)], 1, 1, 1),
            ("2 to 5 s", [(30, 800), (3, 100), (30, 800), (5, 50), (20, 800), (2, 300), (10, 800)], 1, 3, 3),
            ("1 s is no dip", [(30, 800), (1, 10), (30, 800)], 1, 0, None),
            ("60 % of the speed is no dip", [(30, 800), (4, 480), (30, 800)], 1, 0, None),
            ("in the slow phase", [(20, 2000), (20, 400), (4, 20), (20, 400)], 2, 1, 2),
        ]
        for name, spans, phases, count, longest_span in cases:
            with self.subTest(name):
                analysis = analyse(*series(spans, 0.03))
                self.assertEqual(len(analysis.phases), phases, summary_lines(analysis))
                self.assertEqual(len(analysis.dips), count, analysis.dips)
                if count:
                    longest = max(analysis.dips, key=lambda dip: dip.seconds)
                    self.assertEqual((longest.seconds, longest.start_s),
                                     (spans[longest_span][0], sum(s for s, _ in spans[:longest_span])))
                    self.assertAlmostEqual(longest.start_gb, change_gb(spans, longest_span),
                                           delta=0.03 * change_gb(spans, longest_span))
                    self.assertAlmostEqual(longest.mb_s, spans[longest_span][1], delta=0.05 * spans[longest_span][1])
                    self.assertIn("%d dip" % count, "\n".join(summary_lines(analysis)))

    def test_a_low_span_its_level_resumes_after_is_a_dip_however_long(self):
        cases = [  # name, spans, the phases' speeds, (start s, seconds) of each dip
            ("two dips in one phase", [(20, 2000), (20, 400), (8, 20), (20, 400), (15, 30), (20, 400)],
             [2000, 400], [(40, 8), (68, 15)]),
            ("a long dip the segmentation cuts in two", [(200, 600), (12, 100), (200, 600), (12, 100), (200, 600)],
             [600], [(200, 12), (412, 12)]),
            ("a throttled disk under load", [(14, 150), (8, 40), (8, 10), (13, 40)], [150, 40], [(22, 8)]),
            ("right after a cliff: the new phase's start", [(30, 250), (4, 20), (60, 80)], [250, 80], []),
            ("right after a cliff, long: a phase", [(30, 250), (8, 20), (60, 80)], [250, 20, 80], []),
            ("after the new phase has settled", [(30, 250), (10, 80), (8, 20), (60, 80)], [250, 80], [(40, 8)]),
            ("a different level after it: phases", [(30, 800), (10, 100), (30, 600)], [800, 100, 600], []),
            ("as long as the level around it: a phase", [(20, 800), (20, 100), (20, 800)], [800, 100, 800], []),
        ]
        for seconds in (4, 8, 15):
            cases += [("in a slow phase", [(20, 2000), (30, 400), (seconds, 20), (30, 400)], [2000, 400],
                       [(50, seconds)]),
                      ("in a fast phase", [(30, 800), (seconds, 100), (30, 800)], [800], [(30, seconds)])]
        for name, spans, speeds, dips in cases:
            for seed in range(3):
                with self.subTest(name, spans=spans, seed=seed):
                    analysis, lines = self.phases_of(spans, seed, speeds)
                    self.assertEqual([(round(d.start_s), round(d.seconds)) for d in analysis.dips], dips, lines)
                    self.assertEqual(analysis.cliff.gb if analysis.cliff else None,
                                     analysis.phases[0].end_gb if len(speeds) > 1 else None)

    def test_chained_runs_are_one_series(self):
        # Three runs of 20 s, each ending with a short last interval; the cache runs out in the second.
        runs = []
        for rate in ((1000, 1000), (1000, 300), (300, 300)):
            samples = [(float(s), float(sum(rate[0] if k < 10 else rate[1] for k in range(s)))) for s in range(1, 21)]
            samples.append((20.2, samples[-1][1] + 0.2 * rate[1]))
            runs.append(samples)
        seconds, total_mb = chain(runs)
        self.assertEqual(len(seconds), 63)
        self.assertTrue(numpy.all(numpy.diff(seconds) > 0) and numpy.all(numpy.diff(total_mb) > 0))
        analysis = analyse(seconds, total_mb)
        self.assertEqual([round(p.mb_s) for p in analysis.phases], [1000, 300], summary_lines(analysis))
        self.assertLessEqual(abs(analysis.cliff.gb - 30200 / 1024.0), analysis.cliff.plus_minus_gb)
        self.assertAlmostEqual(analysis.average_mb_s, total_mb[-1] / seconds[-1])
        self.assertEqual(analysis.dips, [], "a run's short last interval is no dip")

    def test_chart_draws_the_series_the_analysis_reads(self):
        # Runs ending 0.05 s after a line with 20 MB more than that share: alone, that interval is a spike.
        runs = []
        for rate in (1000, 300):
            samples = [Sample(1000 * s, rate * s, 0, 0) for s in range(1, 21)]
            samples.append(Sample(20050, samples[-1].total_mb + rate // 20 + 20, 0, 0))
            runs.append(Run("test", False, 1024, 1, 1, samples=samples))
        for x in ("s", "gb"):
            where, rates = rate_curve(runs, x)
            self.assertEqual(len(rates), 40, "each run's short last interval is joined to the one before")
            self.assertLess(max(rates), 1.1 * 1000, rates)
        self.assertEqual(where[-1], runs[0].samples[-1].total_mb / 1024 + runs[1].samples[-1].total_mb / 1024)
        analysis = analyse(*chain(samples_of(runs)))
        self.assertEqual([round(p.mb_s) for p in analysis.phases], [1000, 300], summary_lines(analysis))

    def test_record_and_summary(self):
        analysis = analyse(*series([(30, 2000), (30, 500), (3, 50), (20, 500)]))
        document = json.loads(json.dumps(analysis.as_dict()))
        self.assertEqual(sorted(document["phases"][0]), ["end_gb", "end_s", "mb_s", "plus_minus_gb", "plus_minus_s",
                                                         "start_gb", "start_s"])
        self.assertEqual(sorted(document["cliff"]), ["from_mb_s", "gb", "plus_minus_gb", "to_mb_s"])
        self.assertEqual(sorted(document["dips"][0]), ["mb_s", "seconds", "slowest_at_s", "slowest_ms", "start_gb", "start_s"])
        lines = summary_lines(analysis)
        self.assertEqual(lines[0], "the fast phase ended at 58.6 GB (\u00b1 2.0 GB): 2000 MB/s before, 500 MB/s after")
        self.assertEqual(lines[-2], "1 dip of 2 s or more below half the phase's speed; the longest 3 s at 73.2 GB "
                                    "(60 s in), at 50 MB/s")
        self.assertTrue(lines[-1].startswith("average: "))
        self.assertEqual(lines[1], "phase 1: 0.0 GB to 58.6 GB (\u00b1 2.0 GB) (0 to 30 \u00b1 1 s) at 2000 MB/s")
        self.assertEqual(analyse([], []).phases, [])
        self.assertGreater(MIN_PHASE_S, 5, "a dip of 5 s must never be a phase of its own")


if __name__ == "__main__":
    unittest.main()
