// What every rank of vorlax-mpi settles with the others before its writers
// start: that every rank's names fit, the hosts, the memory refusal and the
// notes, gathered to rank 0. Those that say "every rank joins" make MPI
// calls that every rank of the job must make too.
#pragma once

#include <string>
#include <vector>

#include "main/program.h"
#include "notes/notes.h"
#include "settings/settings.h"

// The lowest rank whose own prefix makes test file names past the system's
// limit, or -1 when every rank's fit. Every rank joins.
int first_rank_with_long_names(const std::string& prefix, int rank);

// Every rank's host name, in rank order. Every rank joins.
std::vector<std::string> all_host_names(const char* host, int ranks);

// vorlax's facts for this rank's target, with the memory and page cache
// shared by every rank of its host: the ranks of a host write alike, so
// each counts the files (and those its names hold now) of them all.
RunNoteFacts host_write_facts(const ProgramInfo& program, const RunSettings& settings,
                              const std::vector<std::string>& hosts, int rank);

// Where base (rank_path_base of the path) names an existing folder, not
// ended by a separator: vorlax's folder note in facts, with rank 0's first
// test file, so that every rank's note is the same line.
void note_folder_base(const std::string& base, const std::string& host, RunNoteFacts* facts);

// Refuses the run on every rank when any rank's host would get more on a
// memory-backed folder than its memory can hold: the lowest such rank says
// why. Returns whether it did. Every rank joins.
bool refuse_on_memory(RunNoteFacts facts, const char* host, int rank);

// This rank's notes: vorlax's for its own target (facts from
// host_write_facts), and whether the launcher's session folder is on the
// file system of the test files. None for a folder that is not there
// (same_file_system holds only for paths that exist): the rank's failure
// line says why it wrote nothing.
std::vector<std::string> rank_notes(const ProgramInfo& program, const RunNoteFacts& facts);

// Gathers every rank's notes to rank 0, which prints them on stderr, each
// once with the ranks it holds for. Every rank joins.
void print_all_notes(const std::vector<std::string>& notes, const std::vector<std::string>& hosts, int rank);
