// Notes on stderr for runs whose figures would mislead: a folder kept in
// memory, or buffered files small enough to stay in the page cache.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the notes are decided from; gathered by the run driver.
struct RunNoteFacts {
    bool buffered = false;           // mode B (true) or U
    std::string folder;              // folder that holds the test files
    bool memory_backed = false;      // that folder's file system keeps files in memory
    uint64_t available_bytes = 0;    // memory the system could hand out now; 0 unknown
    uint64_t total_bytes = 0;        // all test files together
};

// The folder that holds the test files of path_prefix: the text before its
// last '/' or '\' (both count on every system, so a prefix means the same
// folder wherever it is typed), "/" or "\" itself when that separator comes
// first, "C:\" for a drive's root, and "." when there is no separator.
std::string prefix_folder(const char* path_prefix);

// The note lines (each ending in '\n') for a run, in the order to print:
// - mode U on a memory-backed folder: the figures are memory speed;
// - mode B when total_bytes fits in available_bytes (known, above 0): the
//   figures show the page cache until it fills.
// Empty when neither applies. Pure.
std::vector<std::string> run_notes(const RunNoteFacts& facts);
