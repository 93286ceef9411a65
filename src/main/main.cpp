// VORLAX: how fast a disk takes sequential writes.
#include "main/run_driver.h"
#include "main/vorlax_program.h"

int main(int argc, char** argv) { return run_program(vorlax_program, argc, argv); }
