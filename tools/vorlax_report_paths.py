"""The report's files: the name each record goes by on the page (the
shortest end of its path that tells it from the others), the records given
more than once, and the page's own name checked against them."""

import os
from typing import List, Sequence, Tuple

from vorlax_log import ToolError


def _same(one: str, other: str) -> bool:
    """Whether two paths name one file (resolved, else as written)."""
    try:
        return os.path.samefile(one, other)
    except OSError:
        return os.path.realpath(one) == os.path.realpath(other)


def short_names(paths: Sequence[str]) -> List[str]:
    """Per path the fewest last parts of it that no other path ends in:
    "sw1/results.json" and "sw2/results.json" where both end in
    results.json; the whole path where even that does not tell them apart
    (the same file twice)."""
    parts = [os.path.normpath(os.path.abspath(path)).split(os.sep) for path in paths]
    names = []
    for number, mine in enumerate(parts):
        others = [theirs for at, theirs in enumerate(parts) if at != number]
        count = 1
        while count < len(mine) and any(theirs[-count:] == mine[-count:] for theirs in others):
            count += 1
        names.append(paths[number] if count >= len(mine) else "/".join(mine[-count:]))
    return names


def repeated(paths: Sequence[str]) -> List[Tuple[str, str]]:
    """(first, later) of each path that names a file given before it."""
    pairs = []
    for number, path in enumerate(paths):
        first = next((earlier for earlier in paths[:number] if _same(earlier, path)), None)
        if first is not None:
            pairs.append((first, path))
    return pairs


class OutputIsInput(ToolError):
    exit_status = 2


def check_output(output: str, paths: Sequence[str]) -> None:
    """Raises OutputIsInput where the page would overwrite a record."""
    for path in paths:
        if os.path.exists(output) and _same(output, path):
            raise OutputIsInput("-o %s: that is the record %s; name another file for the page" % (output, path))
