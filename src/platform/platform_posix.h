// What the POSIX implementation files share among themselves; nothing
// outside this folder includes it.
#pragma once

#include "platform/platform.h"

// Opens name with open(2)'s flags (O_TRUNC left out: with cut, a regular
// file is cut to zero length once it is open) relative to a descriptor of
// its folder. In a folder that is sticky and writable by others a symbolic
// link is followed, and an existing regular file cut, only when the running
// user or the folder's owner owns it; otherwise nothing is touched, *foreign
// (unless null) says whose and where, *error is EPERM and the result -1.
// Elsewhere it is one open(name, flags | O_TRUNC when cut). Returns the
// descriptor, or -1 with *error set.
int open_guarded(const char* name, int flags, bool cut, int* error, ForeignEntry* foreign);
