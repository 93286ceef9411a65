// VORLAX: how fast a disk takes sequential writes.
#include "main/run_driver.h"

int main(int argc, char** argv) { return run_vorlax(argc, argv); }
