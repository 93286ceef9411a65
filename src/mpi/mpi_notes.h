// What vorlax-mpi adds to the notes (notes.h): every rank's, merged on
// rank 0, and the launcher's session folder. Pure: no MPI.
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

// What started the ranks, as their environment tells, and the folder it
// keeps its session files in.
enum class Launcher { none, mpirun, slurm, other_pmix };
struct LauncherSession {
    Launcher launcher = Launcher::none;
    std::string folder;  // empty for none
};

// The launcher from the values of OMPI_MCA_orte_top_session_dir,
// PMIX_SERVER_TMPDIR and SLURM_JOB_ID (null or empty when unset): mpirun
// names the first; srun over PMIx the second, in slurmd's spool, with a
// Slurm job; any other PMIx launcher the second alone.
LauncherSession launcher_session(const char* orte_folder, const char* pmix_folder, const char* slurm_job);

// The note, headed by program, for a launcher's session folder on the file
// system of the test files (test_folder), with what can move it: for mpirun
// TMPDIR or --mca orte_tmpdir_base; for Slurm the site's SlurmdSpoolDir;
// for another launcher no advice. Empty for test files in memory
// (memory_backed), where no disk slows the session folder.
std::string session_folder_note(const std::string& program, const LauncherSession& session,
                                const std::string& test_folder, bool memory_backed);
