"""A sweep's bar chart: whiskers from the worst to the best run in the
legend and under the value labels, and each bar saying what it is."""

import unittest

import support  # noqa: F401  (puts tools/ on the path)


class SweepChart(unittest.TestCase):
    def test_whiskers_are_in_the_legend_and_under_the_value_labels(self):
        import vorlax_charts
        drawn = {}

        def keep(pyplot, figure, path):
            drawn["axes"] = figure.axes[0]
            pyplot.close(figure)

        saved, vorlax_charts.save_figure = vorlax_charts.save_figure, keep
        try:
            vorlax_charts.plot_bars(["U x1", "B x1"], ["64K", "1024K"], [[300, 310], [600, None]], "x.svg",
                                    spans=[[(250, 420), None], [(550, 700), None]])
        finally:
            vorlax_charts.save_figure = saved
        axes = drawn["axes"]
        self.assertEqual([text.get_text() for text in axes.get_legend().get_texts()],
                         ["U x1", "B x1", "worst to best run (bar: the median)"])
        labels = {text.get_text(): text.xy[1] for text in axes.texts}
        self.assertEqual(labels, {"300": 420, "310": 310, "600": 700})
        self.assertGreater(axes.get_ylim()[1], 700)

    def test_a_sweep_chart_says_what_each_bar_is(self):
        import vorlax_charts
        from vorlax_log import Sample
        from vorlax_machine import Measured
        from vorlax_results import SweepPlan
        from vorlax_runner import Pass, Settings
        from vorlax_sweep import Result
        from vorlax_sweep_chart import draw_chart
        drawn = {}

        def keep(pyplot, figure, path):
            drawn["axes"] = figure.axes[0]
            pyplot.close(figure)

        def run(mode, block_kb, threads, mbps, repeat=1):
            write = Pass(0 if mbps else 1, Sample(1000, 1024, mbps, mbps) if mbps else None, "x.log")
            return Result(Settings(mode, block_kb, threads, 1), repeat, write)
        # -m U,B; U x1 at 64K: 199 and 200 (median 199.5); B x1 at 1024K failed; B x2 fits in memory.
        results = [run("U", 64, 1, 199), run("B", 64, 1, 7293), run("B", 64, 2, 7000), run("U", 1024, 1, 900),
                   run("B", 1024, 1, None), run("B", 1024, 2, 7100), run("U", 64, 1, 200, 2)]
        measured = Measured("/d", "ext4", "/dev/sda1", "", "2026-12-07", "VORLAX 1.0.0", 2, 4096, "")
        plan = SweepPlan(["vorlax-sweep"], ["U", "B"], [64, 1024], [1, 2], 1, 2,
                         {"memory_available_mb": 1536}, stopped="interrupted during run 8 of 12")
        saved, vorlax_charts.save_figure = vorlax_charts.save_figure, keep
        try:
            draw_chart(results, measured, 2, "x.svg", plan)
        finally:
            vorlax_charts.save_figure = saved
        axes = drawn["axes"]
        legend = [text.get_text() for text in axes.get_legend().get_texts()]
        self.assertEqual(legend[:3], ["U x1", "B x1 (page cache)", "B x2"])
        texts = [text.get_text() for text in axes.texts]
        self.assertIn("199.5", texts)
        self.assertIn("failed", texts)
        from matplotlib.colors import to_rgba
        palette = [to_rgba(c) for c in vorlax_charts.load_pyplot().rcParams["axes.prop_cycle"].by_key()["color"]]
        faces = {container.get_label(): container.patches[0].get_edgecolor() for container in axes.containers
                 if hasattr(container, "patches")}
        self.assertEqual((faces["U x1"], faces["B x1 (page cache)"], faces["B x2"]),
                         (palette[0], palette[1], palette[3]), "each (mode, threads) has its own colour")
        self.assertIn("median of up to 2 runs; stopped part way", axes.get_title())


if __name__ == "__main__":
    unittest.main()
