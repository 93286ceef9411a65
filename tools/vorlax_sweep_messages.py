"""The programs' messages of a sweep's runs for results.md: one line per
kind of message with the cells that gave it, the figures that vary between
its lines shown as N1, N2, ... with their ranges. vorlax_results re-exports
it."""

import re
from typing import Dict, List, Tuple

from vorlax_log import message_kind
from vorlax_sweep import Result


def varying_text(lines: List[str]) -> str:
    """Lines of one kind as one: each figure that varies between them
    replaced by N1, N2, ..., then its range: "the test files (N1 MB in all)
    ... (N1: 1024 to 2048; N2: 22865 to 23047)"."""
    parts = [re.split(r"(\d+(?:\.\d+)?)", line) for line in lines]
    if len({len(split) for split in parts}) > 1:  # not one shape: the first line, and how many others
        return "%s` (and %d more like it)" % (lines[0], len(lines) - 1)
    text, ranges = parts[0][:], []
    for at in range(1, len(text), 2):
        values = sorted(set(float(split[at]) for split in parts))
        if len(values) > 1:
            name = "N%d" % (len(ranges) + 1)
            shown = ["%g" % value for value in values]
            ranges.append("%s: %s" % (name, " or ".join(shown) if len(shown) == 2 else
                                       "%s to %s" % (shown[0], shown[-1])))
            text[at] = name
    return "".join(text) + ("` (%s)" % "; ".join(ranges) if ranges else "`")


def merged_messages(results: List[Result]) -> List[str]:
    """The programs' lines, one per kind (message_kind) with the cells that
    gave it; where the figures in a kind's lines vary, they stand as N1,
    N2, ... with their ranges after the line."""
    said: Dict[str, Tuple[List[str], List[str]]] = {}  # kind: (lines, labels)
    for result in results:
        for message in [m for p in (result.write, result.read) if p for m in p.messages]:
            lines, labels = said.setdefault(message_kind(message), ([], []))
            if message not in lines:
                lines.append(message)
            if result.settings.label() not in labels:
                labels.append(result.settings.label())
    merged = []
    for lines, labels in said.values():
        merged.append("- %s: `%s" % (", ".join(labels), varying_text(lines)))
    return merged
