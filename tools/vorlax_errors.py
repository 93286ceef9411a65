"""What the tools say of a file they cannot read, write or parse: the
system's reason and what to try, in the same words in every tool."""

import errno

HINTS = {errno.ENOENT: "check the path", errno.ENOTDIR: "check the path",
         errno.EISDIR: "give a file name, not a folder",
         errno.EACCES: "check its permissions", errno.EPERM: "check its permissions",
         errno.ENOSPC: "free some space on its disk", errno.EDQUOT: "free some space (over the quota)",
         errno.EROFS: "write it to a disk that is not read-only"}


def os_reason(error: OSError) -> str:
    """The system's reason for error and, where there is one, what to try:
    "No such file or directory; check the path"."""
    reason = error.strerror or str(error)
    return "%s; %s" % (reason, HINTS[error.errno]) if error.errno in HINTS else reason


def error_text(error: Exception) -> str:
    """An OSError as os_reason() after the file it names ("out/x: Permission
    denied; check its permissions"); any other error as str() gives it."""
    if not isinstance(error, OSError):
        return str(error)
    return "%s: %s" % (error.filename, os_reason(error)) if error.filename else os_reason(error)


def json_reason(error: ValueError) -> str:
    """Plain words for a record whose text does not parse as JSON."""
    return "the record is cut short or not JSON: %s; is it a --json record written whole?" % error
