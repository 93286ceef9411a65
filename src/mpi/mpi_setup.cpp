#include "mpi/mpi_setup.h"

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "mpi/mpi_names.h"
#include "mpi/mpi_notes.h"
#include "notes/note_facts.h"
#include "output/output.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "test_file/test_file.h"

// The lowest rank whose own prefix makes test file names past the system's
// limit, or -1 when every rank's fit. Every rank joins.
int first_rank_with_long_names(const std::string& prefix, int rank) {
    const bool fits = prefix_length_detail(prefix.c_str()).empty();
    int mine = fits ? INT_MAX : rank, lowest = INT_MAX;
    MPI_Allreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    return lowest == INT_MAX ? -1 : lowest;
}

// Every rank's host name, in rank order.
std::vector<std::string> all_host_names(const char* host, int ranks) {
    std::vector<char> names(static_cast<size_t>(ranks) * MPI_MAX_PROCESSOR_NAME, '\0');
    MPI_Allgather(host, MPI_MAX_PROCESSOR_NAME, MPI_CHAR, names.data(), MPI_MAX_PROCESSOR_NAME, MPI_CHAR,
                  MPI_COMM_WORLD);
    std::vector<std::string> hosts;
    for (int rank = 0; rank < ranks; ++rank) hosts.emplace_back(&names[static_cast<size_t>(rank) * MPI_MAX_PROCESSOR_NAME]);
    return hosts;
}

// vorlax's facts for this rank's target, with the memory and page cache
// shared by every rank of its host: the ranks of a host write alike, so
// each counts the files (and those its names hold now) of them all.
RunNoteFacts host_write_facts(const ProgramInfo& program, const RunSettings& settings,
                              const std::vector<std::string>& hosts, int rank) {
    RunNoteFacts facts = write_note_facts(program.name, settings);
    facts.processes = static_cast<uint32_t>(std::count(hosts.begin(), hosts.end(), hosts[rank]));
    facts.total_bytes *= facts.processes;
    facts.reused_bytes *= facts.processes;
    return facts;
}

void note_folder_base(const std::string& base, const std::string& host, RunNoteFacts* facts) {
    RunSettings typed;
    typed.path_prefix = base;
    if (base.empty() || !folder_note_facts(facts->program.c_str(), typed).prefix_is_folder) return;
    facts->prefix = base;
    facts->prefix_is_folder = true;
    facts->first_file = rank_prefix(base, host, 0) + "_00.BIN";
}

// Refuses the run on every rank when any rank's host would get more on a
// memory-backed folder than its memory can hold: the lowest such rank says
// why. Returns whether it did. Every rank joins.
bool refuse_on_memory(RunNoteFacts facts, const char* host, int rank) {
    facts.folder = std::string(host) + ":" + facts.folder;
    const std::string line = memory_refusal_line(facts);
    int mine = line.empty() ? INT_MAX : rank, lowest = INT_MAX;
    MPI_Allreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    if (lowest == rank) print_stderr_line(line);
    return lowest != INT_MAX;
}

// This rank's notes: vorlax's for its own target (facts from
// host_write_facts), and whether the launcher's session folder is on the
// file system of the test files. None for a folder that is not there
// (same_file_system holds only for paths that exist): the rank's failure
// line says why it wrote nothing.
std::vector<std::string> rank_notes(const ProgramInfo& program, const RunNoteFacts& facts) {
    if (!same_file_system(facts.folder.c_str(), facts.folder.c_str())) return {};
    std::vector<std::string> notes = run_notes(facts);
    const LauncherSession session = launcher_session(
        std::getenv("OMPI_MCA_orte_top_session_dir"), std::getenv("PMIX_SERVER_TMPDIR"), std::getenv("SLURM_JOB_ID"));
    if (!session.folder.empty() && same_file_system(session.folder.c_str(), facts.folder.c_str())) {
        const std::string note = session_folder_note(program.name, session, facts.folder, facts.memory_backed);
        if (!note.empty()) notes.push_back(note);
    }
    return notes;
}

// Gathers every rank's notes to rank 0, which prints them on stderr, each
// once with the ranks it holds for. Every rank joins.
void print_all_notes(const std::vector<std::string>& notes, const std::vector<std::string>& hosts, int rank) {
    std::string mine;
    for (const std::string& note : notes) mine += note;
    int length = static_cast<int>(mine.size());
    const size_t ranks = hosts.size();
    std::vector<int> lengths(rank == 0 ? ranks : 0), offsets(rank == 0 ? ranks : 0);
    MPI_Gather(&length, 1, MPI_INT, lengths.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
    int total = 0;
    for (size_t r = 0; r < lengths.size(); ++r) {
        offsets[r] = total;
        total += lengths[r];
    }
    std::vector<char> all(static_cast<size_t>(total) + 1);
    MPI_Gatherv(mine.data(), length, MPI_CHAR, all.data(), lengths.data(), offsets.data(), MPI_CHAR, 0,
                MPI_COMM_WORLD);
    if (rank != 0) return;
    std::vector<std::vector<std::string>> by_rank(ranks);
    for (size_t r = 0; r < ranks; ++r) {
        const std::string text(all.data() + offsets[r], static_cast<size_t>(lengths[r]));
        for (size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            if (end == std::string::npos) end = text.size() - 1;
            by_rank[r].push_back(text.substr(start, end - start + 1));
        }
    }
    print_stderr_lines(merge_rank_notes(by_rank, hosts));
}
