// vorlax-mpi: how fast many hosts together write to shared storage.
#include "mpi/mpi_driver.h"
#include "mpi/mpi_program.h"

int main(int argc, char** argv) { return run_mpi_program(vorlax_mpi_program, argc, argv); }
