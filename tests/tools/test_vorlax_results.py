"""A sweep's tables from hand-made runs: what the programs said, each text
once with the cells that said it, and the CSV's columns as the JSON's."""

import csv
import io
import unittest

import support  # noqa: F401  (puts tools/ on the path)
import vorlax_results
from vorlax_log import Sample
from vorlax_machine import Measured
from vorlax_runner import Pass, Settings
from vorlax_sweep import Result

MEASURED = Measured("/d", "ext4", "/dev/sda1", "Disk X", "2026-12-07", "VORLAX 1.0.0", 1, 0, "")
FIT = "vorlax: note: the test files (%d MB in all) fit in the memory available (%d MB)"


def result(settings, repeat, *messages):
    return Result(settings, repeat, Pass(0, Sample(1000, 1024, 1024, 1024), "/o/logs/x.log", list(messages)))


class Tables(unittest.TestCase):
    def test_each_message_once_with_the_cells_that_gave_it(self):
        small, large = Settings("B", 64, 1, 1), Settings("B", 1024, 2, 1)
        results = [result(small, 1, FIT % (1024, 22865), "vorlax: note: /d is memory-backed"),
                   result(large, 1, FIT % (2048, 23047), "vorlax: note: /d is memory-backed"),
                   result(small, 2, FIT % (1024, 22970))]
        table = vorlax_results.markdown_table(results, MEASURED, 2)
        said = table.split("What the programs said:\n\n")[1]
        self.assertIn("| runs | write MB/s | write best | write spread | block ms: median | 99 % | 99.9 % | status |", table)
        self.assertIn("| B | 1024 | 2 | 1 | 1* |", table, "a cell short of its planned runs is marked")
        # Texts that differ only in their figures are one kind: said once, each varying figure a placeholder
        # with its range, the others as they are.
        self.assertEqual(said.splitlines(), [
            "- B 64K x1, B 1024K x2: `vorlax: note: the test files (N1 MB in all) fit in the memory available "
            "(N2 MB)` (N1: 1024 or 2048; N2: 22865 to 23047)",
            "- B 64K x1, B 1024K x2: `vorlax: note: /d is memory-backed`"])
        cases = [  # lines of one kind: as one
            (["took 2.5 s at 10 MB", "took 2.5 s at 30 MB"], "took 2.5 s at N1 MB` (N1: 10 or 30)"),
            (["a 1 b 2", "a 1 b 2 c 3"], "a 1 b 2` (and 1 more like it)"),
        ]
        for lines, text in cases:
            self.assertEqual(vorlax_results.varying_text(lines), text)

    def test_csv_columns_are_the_json_cells_keys(self):
        results = [result(Settings("U", 4, 1, 1), 1)]
        rows = list(csv.DictReader(io.StringIO(vorlax_results.csv_table(results))))
        cells = vorlax_results.json_document(results, MEASURED, "/o")["cells"]
        self.assertEqual([list(row) for row in rows], [list(cell) for cell in cells])
        self.assertEqual((rows[0]["mode"], rows[0]["write_median_mbps"], rows[0]["read_verdict"]), ("U", "1024", ""))


if __name__ == "__main__":
    unittest.main()
