// The notes on stderr of a run under MPI: every rank's, merged on rank 0.
// Pure: no MPI.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// "0-2, 5, 7-8" for ranks in ascending order; consecutive numbers become a
// range.
std::string rank_ranges(const std::vector<uint32_t>& ranks);

// Each distinct note of notes_by_rank (rank r's lines, each ending in
// '\n'), once, in the order rank 0, 1, ... first have it, with the ranks and
// hosts it holds for before its line end: " (rank 3 on b)", " (ranks 0-2, 5
// on a, b)"; past four hosts the rest are counted ("a, b, c, d and 6 more
// hosts"). hosts[r] is rank r's host.
std::vector<std::string> merge_rank_notes(const std::vector<std::vector<std::string>>& notes_by_rank,
                                          const std::vector<std::string>& hosts);

// The note for a launcher's session folder (session_folder) on the file
// system of the test files (test_folder), headed by program; what to set so
// that it moves to memory.
std::string session_folder_note(const std::string& program, const std::string& session_folder,
                                const std::string& test_folder);
