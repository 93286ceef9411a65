// The run driver: settings, writer threads, the monitor loop and the end.
#pragma once

// Runs VORLAX with the command line of main and returns the exit status:
// 0 when every writer thread wrote all its blocks (or help and version were
// asked for), 1 when any thread fell short, 2 for a command line that cannot
// be run (wrong argument count, over-long path prefix).
int run_vorlax(int argc, const char* const* argv);
