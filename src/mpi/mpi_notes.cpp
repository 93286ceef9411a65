#include "mpi/mpi_notes.h"

#include <algorithm>

#include "notes/notes.h"

namespace {

constexpr size_t hosts_named = 4;

// The hosts of ranks, each once, in the order of first appearance.
std::string host_list(const std::vector<uint32_t>& ranks, const std::vector<std::string>& hosts) {
    std::vector<std::string> names;
    for (uint32_t rank : ranks)
        if (std::find(names.begin(), names.end(), hosts[rank]) == names.end()) names.push_back(hosts[rank]);
    std::string text;
    for (size_t i = 0; i < names.size() && i < hosts_named; ++i) text += (i ? ", " : "") + names[i];
    if (names.size() > hosts_named) text += " and " + std::to_string(names.size() - hosts_named) + " more hosts";
    return text;
}

}  // namespace

std::string rank_ranges(const std::vector<uint32_t>& ranks) {
    std::string text;
    for (size_t first = 0; first < ranks.size();) {
        size_t last = first;
        while (last + 1 < ranks.size() && ranks[last + 1] == ranks[last] + 1) ++last;
        text += (first ? ", " : "") + std::to_string(ranks[first]);
        if (last > first) text += "-" + std::to_string(ranks[last]);
        first = last + 1;
    }
    return text;
}

std::vector<std::string> merge_rank_notes(const std::vector<std::vector<std::string>>& notes_by_rank,
                                          const std::vector<std::string>& hosts) {
    std::vector<std::string> notes;
    std::vector<std::vector<uint32_t>> holders;
    for (uint32_t rank = 0; rank < notes_by_rank.size(); ++rank)
        for (const std::string& note : notes_by_rank[rank]) {
            const size_t at = std::find(notes.begin(), notes.end(), note) - notes.begin();
            if (at == notes.size()) {
                notes.push_back(note);
                holders.emplace_back();
            }
            if (holders[at].empty() || holders[at].back() != rank) holders[at].push_back(rank);
        }
    for (size_t i = 0; i < notes.size(); ++i) {
        std::string& note = notes[i];
        if (!note.empty() && note.back() == '\n') note.pop_back();
        note += std::string(holders[i].size() == 1 ? " (rank " : " (ranks ") + rank_ranges(holders[i]) + " on " +
                host_list(holders[i], hosts) + ")\n";
    }
    return notes;
}

LauncherSession launcher_session(const char* orte_folder, const char* pmix_folder, const char* slurm_job) {
    const auto set = [](const char* value) { return value && *value; };
    if (set(orte_folder)) return {Launcher::mpirun, orte_folder};
    if (!set(pmix_folder)) return {};
    return {set(slurm_job) ? Launcher::slurm : Launcher::other_pmix, pmix_folder};
}

std::string session_folder_note(const std::string& program, const LauncherSession& session,
                                const std::string& test_folder, bool memory_backed) {
    if (memory_backed || session.launcher == Launcher::none) return std::string();
    const std::string where = " on the file system of the test files (" + test_folder + "); heavy writes there ";
    const std::string head = note_head(program);
    switch (session.launcher) {
        case Launcher::mpirun:
            return head + "mpirun keeps its session folder " + session.folder + where +
                   "can make it report a rank as exiting improperly after a good run; start it with TMPDIR=/dev/shm "
                   "in its environment, or with --mca orte_tmpdir_base /dev/shm\n";
        case Launcher::slurm:
            // TMPDIR and Open MPI's settings do not move it: slurmd makes it.
            return head + "Slurm keeps this job step's PMIx folder " + session.folder +
                   " in slurmd's spool (SlurmdSpoolDir)" + where +
                   "can delay the step's own messages; a site moves it by setting SlurmdSpoolDir in slurm.conf to "
                   "a folder on another disk\n";
        case Launcher::other_pmix:
        case Launcher::none:
            break;
    }
    return head + "the launcher keeps its PMIx session folder " + session.folder + where +
           "can delay its own messages\n";
}
