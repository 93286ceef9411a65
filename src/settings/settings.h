// The run's settings, read once from the command line.
#pragma once

#include <cstdint>
#include <string>

struct RunSettings {
    bool buffered = false;        // through the file cache (B) or bypassing it
    const char* path_prefix = nullptr;  // borrowed from the command line or a constant
    uint32_t buffer_kb = 64;      // block size, 1 to 32768
    uint32_t thread_count = 1;    // writer threads, 1 to 99
    uint32_t max_gb = 1;          // file size per thread, 1 to 63
};

// What the command line asks for.
enum class ParseOutcome {
    run,              // settings filled; start the run
    usage,            // wrong argument count: usage text, status 2
    help,             // -h, --help (or /? where that is the custom): usage, status 0
    version,          // --version
    prefix_too_long,  // the test file names would pass the system's limit
};

// "Usage: VORLAX <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n"
extern const char* const usage_text;

// Reads a decimal integer as the "%d" conversion does, but the same on every
// system: leading blanks skipped, one optional sign, digits up to the first
// other character accumulated modulo 2^32 with no overflow test, a leading
// minus negating the result. Returns false, leaving *value alone, when there
// are no digits.
bool read_decimal(const char* text, uint32_t* value);

// Fills *settings from argv[1..argc-1] (argv[0], the program, is skipped).
// Absent arguments keep the defaults; numbers out of range take their
// fallbacks (buffer 64, threads 1, size 4); texts without digits assign
// nothing. Pure: prints nothing. *settings is only meaningful for run.
ParseOutcome parse_settings(int argc, const char* const* argv, RunSettings* settings);

// "VORLAX: <activity> <buffered|unbuffered> %dK buffers in %d threads up to
// %d GB each\n"; activity is "writing" for writers, "reading" for readers.
std::string format_banner(const RunSettings& settings, const char* activity = "writing");

// Writes the banner line to standard output.
void print_banner(const RunSettings& settings, const char* activity = "writing");
