// vorlax-mpi: how fast many hosts together write to shared storage.
#include "mpi/mpi_driver.h"

int main(int argc, char** argv) { return run_mpi_program(vorlax_mpi_program, argc, argv); }
