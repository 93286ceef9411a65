// vorlax-mpi: vorlax's writers on every rank of an MPI job, with its own
// usage, help and version.
#pragma once

#include "main/program.h"

extern const ProgramInfo vorlax_mpi_program;
