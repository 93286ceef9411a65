// vorlax itself: the writers, with the notes that memory-backed,
// compressing and buffered writes call for.
#pragma once

#include "main/program.h"

extern const ProgramInfo vorlax_program;
