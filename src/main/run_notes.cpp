#include "main/run_notes.h"

std::string prefix_folder(const char* path_prefix) {
    const std::string prefix = path_prefix ? path_prefix : "";
    const size_t last = prefix.find_last_of("/\\");
    if (last == std::string::npos) return ".";
    if (last == 0) return prefix.substr(0, 1);
    // "C:\run": the root of drive C, not the drive's current folder.
    if (last == 2 && prefix[1] == ':') return prefix.substr(0, 3);
    return prefix.substr(0, last);
}

std::vector<std::string> run_notes(const RunNoteFacts& facts) {
    std::vector<std::string> notes;
    if (!facts.buffered && facts.memory_backed)
        notes.push_back("vorlax: note: " + facts.folder +
                        " is memory-backed; these figures are memory speed, not a disk's\n");
    if (facts.buffered && facts.available_bytes > 0 && facts.total_bytes <= facts.available_bytes) {
        constexpr uint64_t mb = 1u << 20;
        notes.push_back("vorlax: note: the test files (" + std::to_string(facts.total_bytes / mb) +
                        " MB in all) fit in the memory available (" + std::to_string(facts.available_bytes / mb) +
                        " MB); these figures will show the page cache until it fills; mode U or a larger size "
                        "measures the disk\n");
    }
    return notes;
}
