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

// Writes line, which ends in its own line end, to stderr whole and at once
// (nothing of it waits in a buffer): every line on stderr goes through here,
// so with stdout and stderr in one file the lines stay in the order printed.
// On a Windows console the UTF-8 text is shown as such.
void print_stderr_line(const std::string& line);

// print_stderr_line for each of lines: the notes and the lines about the
// command line.
void print_stderr_lines(const std::vector<std::string>& lines);

// The note lines (those holding ": note: ") print_stderr_lines has printed
// so far, for the run record.
std::string printed_notes();

// A worker's completion line, "thread <index> done! <whole blocks>", on
// stdout with a flush.
void print_thread_done(uint32_t thread_index, int64_t blocks);
