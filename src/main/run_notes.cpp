#include "main/run_notes.h"

namespace {

// What a compressing file system makes of the test files, and what to do.
std::string compression_note(const std::string& head, const RunNoteFacts& facts) {
    const FolderCompression& compression = facts.compression;
    const std::string shrinks = "every block is one repeated byte and shrinks to almost nothing, so these figures "
                                "show the compressor, not the disk; use a folder without compression";
    switch (compression.kind) {
        case CompressionKind::none:
            return std::string();
        case CompressionKind::mount_option:
            return head + facts.folder + " is on " + compression.file_system + " mounted with " + compression.detail +
                   ": " + shrinks + "\n";
        case CompressionKind::folder_marked:
            return head + facts.folder + " is marked for compression: " + shrinks + "\n";
        case CompressionKind::may_compress:
            return head + facts.folder + " is on " + compression.file_system +
                   ", which may compress: every block is one repeated byte and would shrink to almost nothing, "
                   "so these figures would show the compressor, not the disk; check with: " +
                   compression.detail + "\n";
    }
    return std::string();
}

}  // namespace

RunNoteFacts folder_note_facts(const char* program, const RunSettings& settings) {
    RunNoteFacts facts;
    facts.program = program;
    facts.buffered = settings.buffered;
    facts.folder = prefix_folder(settings.path_prefix);
    facts.memory_backed = folder_is_memory_backed(facts.folder.c_str());
    facts.compression = folder_compression(facts.folder.c_str());
    return facts;
}

RunNoteFacts write_note_facts(const char* program, const RunSettings& settings) {
    RunNoteFacts facts = folder_note_facts(program, settings);
    facts.available_bytes = available_memory_bytes();
    facts.total_bytes = static_cast<uint64_t>(settings.thread_count) *
                        static_cast<uint64_t>(test_file_block_count(settings.max_gb, settings.buffer_kb)) *
                        settings.buffer_kb * 1024u;
    return facts;
}

std::vector<std::string> run_notes(const RunNoteFacts& facts) {
    const std::string head = facts.program + ": note: ";
    std::vector<std::string> notes;
    if (facts.memory_backed)
        notes.push_back(head + facts.folder + " is memory-backed; these figures are memory speed, not a disk's\n");
    std::string compressed = compression_note(head, facts);
    if (!compressed.empty()) notes.push_back(compressed);
    if (facts.buffered && !facts.memory_backed && facts.available_bytes > 0 &&
        facts.total_bytes <= facts.available_bytes) {
        constexpr uint64_t mb = 1u << 20;
        notes.push_back(head + "the test files (" + std::to_string(facts.total_bytes / mb) +
                        " MB in all) fit in the memory available (" + std::to_string(facts.available_bytes / mb) +
                        " MB); these figures will show the page cache until it fills; mode U or a larger size "
                        "measures the disk\n");
    }
    return notes;
}
