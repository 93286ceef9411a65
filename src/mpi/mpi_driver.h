// vorlax-mpi: vorlax's writers on every rank of an MPI job, started
// together, watched together, summed up on rank 0.
#pragma once

#include "main/program.h"

// Runs program under MPI (MPI_Init to MPI_Finalize) with the command line
// of main and returns this rank's exit status: 0 when every writer of every
// rank did all its blocks (or help and version were asked for), 1 when any
// fell short (on every rank), 2 for a command line that any rank cannot run
// or a run refused before its first byte (a memory-backed folder too small).
int run_mpi_program(const ProgramInfo& program, int argc, char** argv);
