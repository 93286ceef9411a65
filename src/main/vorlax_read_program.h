// vorlax-read: the readers of what vorlax wrote, which drop the files'
// cached pages before they start.
#pragma once

#include "main/program.h"

extern const ProgramInfo vorlax_read_program;
