// What each writer thread leaves on disk: the test file's name, its length
// in blocks and the byte every block is filled with.
#pragma once

#include <cstdint>
#include <string>

// Forms "<prefix>_NN.BIN" for thread_index (00 to 98) into *name. Returns
// false, forming nothing, when the name and its terminator would exceed
// max_bytes.
bool test_file_name(const char* path_prefix, uint32_t thread_index, size_t max_bytes, std::string* name);

// The characters test_file_name adds to the prefix: "_NN.BIN".
constexpr size_t test_file_suffix_chars = 7;

// The path prefix of a test file's name, the inverse of test_file_name: the
// name without "_NN.BIN"; "" for a name too short to have one.
std::string prefix_of(const std::string& name);

// The folder that holds the test files of path_prefix: the text before its
// last '/' or '\' (both count on every system, so a prefix means the same
// folder wherever it is typed), "/" or "\" itself when that separator comes
// first, "C:\" for a drive's root, and "." when there is no separator.
std::string prefix_folder(const char* path_prefix);

// Whole blocks of buffer_kb in a file of max_gb: (max_gb * 2^20) / buffer_kb,
// remainder dropped; 0 when buffer_kb is 0.
int64_t test_file_block_count(uint32_t max_gb, uint32_t buffer_kb);

// Every byte of block k holds k mod 256.
inline uint8_t test_file_fill_byte(int64_t block) { return static_cast<uint8_t>(block & 0xFF); }
