// vorlax-read: how fast a disk reads back what vorlax wrote, and whether
// every block still holds its pattern.
#include "main/run_driver.h"
#include "main/vorlax_read_program.h"

int main(int argc, char** argv) { return run_program(vorlax_read_program, argc, argv); }
