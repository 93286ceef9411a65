// The lines the programs print on stdout, and the printf into a string they
// are built with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The text that printf would print for pattern and its arguments, cut at
// 511 characters.
std::string format_text(const char* pattern, ...);

// Writes line to stdout and flushes it, so a pipe gets every line at once.
void print_stdout_line(const std::string& line);

// Writes each of lines, which end in their own line ends, to stderr: the
// notes and the lines about the command line.
void print_stderr_lines(const std::vector<std::string>& lines);

// A worker's completion line, "thread <index> done! <whole blocks>", on
// stdout with a flush.
void print_thread_done(uint32_t thread_index, int64_t blocks);
