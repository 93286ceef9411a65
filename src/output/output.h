// The lines the programs print on stdout, and the printf into a string they
// are built with.
#pragma once

#include <cstdint>
#include <string>

// The text that printf would print for pattern and its arguments, cut at
// 511 characters.
std::string format_text(const char* pattern, ...);

// Writes line to stdout and flushes it, so a pipe gets every line at once.
void print_stdout_line(const std::string& line);

// A worker's completion line, "thread <index> done! <whole blocks>", on
// stdout with a flush.
void print_thread_done(uint32_t thread_index, int64_t blocks);
