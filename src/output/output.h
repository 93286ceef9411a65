// The lines the programs print on stdout, and the printf into a string they
// are built with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings.h"

// The text that printf would print for pattern and its arguments, cut at
// 511 characters.
std::string format_text(const char* pattern, ...);

// "1 block", "2 blocks": count and the noun that fits it.
std::string count_words(uint64_t count, const char* one, const char* many);

// value / 1000 and its last three digits, "12.345", the whole part right-
// aligned in width columns (0: as wide as it is).
std::string thousandths_text(uint64_t value, int width = 0);

// "VORLAX: <activity> <buffered|unbuffered> %dK buffers in %d threads up to
// %d GB each\n"; activity is "writing" for writers, "reading" for readers.
std::string format_banner(const RunSettings& settings, const char* activity = "writing");

// The banner's words alone, without the line end, for a program that adds
// its own ending.
std::string banner_words(const RunSettings& settings, const char* activity = "writing");

// Writes the banner line to stdout.
void print_banner(const RunSettings& settings, const char* activity = "writing");

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
