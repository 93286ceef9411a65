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
    facts.folder = prefix_folder(settings.path_prefix.c_str());
    facts.memory_backed = folder_is_memory_backed(facts.folder.c_str());
    facts.compression = folder_compression(facts.folder.c_str());
    facts.prefix = settings.path_prefix;
    const char last = facts.prefix.empty() ? '/' : facts.prefix.back();
    facts.prefix_is_folder = last != '/' && last != '\\' && path_is_folder(settings.path_prefix.c_str());
    return facts;
}

RunNoteFacts write_note_facts(const char* program, const RunSettings& settings) {
    RunNoteFacts facts = folder_note_facts(program, settings);
    // One measure for the page-cache note and the memory-backed refusal:
    // within a memory cgroup, its limit bounds the page cache too.
    facts.available_bytes = memory_for_files_bytes();
    facts.file_bytes = static_cast<uint64_t>(test_file_block_count(settings.max_gb, settings.buffer_kb)) *
                       settings.buffer_kb * 1024u;
    facts.total_bytes = settings.thread_count * facts.file_bytes;
    facts.thread_count = settings.thread_count;
    facts.max_gb = settings.max_gb;
    if (!facts.memory_backed) return facts;
    facts.memory_room_bytes = facts.available_bytes;
    facts.folder_free_bytes = folder_free_bytes(facts.folder.c_str());
    // What goes into memory: a file of the run's size for every name but
    // a FIFO or device (the writes pass through them) or a folder; a file
    // there now is cut first and gives its bytes back.
    facts.total_bytes = 0;
    for (uint32_t index = 0; index < settings.thread_count; ++index) {
        std::string name;
        int error = 0;
        uint64_t bytes = 0;
        if (!test_file_name(settings.path_prefix.c_str(), index, platform_max_path_bytes, &name)) continue;
        FileHandle file = file_open_read(name.c_str(), true, &error, nullptr);
        if (file == invalid_file && platform_not_a_file_kind(error)) continue;
        facts.total_bytes += facts.file_bytes;
        if (file == invalid_file) continue;
        if (file_size_bytes(file, &bytes, &error)) facts.reused_bytes += bytes;
        file_close(file);
    }
    return facts;
}

std::string memory_refusal_line(const RunNoteFacts& facts) {
    if (!facts.memory_backed || facts.memory_room_bytes == 0 || facts.file_bytes == 0) return std::string();
    const uint64_t room = facts.memory_room_bytes + facts.reused_bytes;
    // Where the folder's own size is the smaller limit, it fills first: a full
    // disk, said as on any disk.
    if (facts.total_bytes <= room || facts.folder_free_bytes <= facts.memory_room_bytes) return std::string();
    constexpr uint64_t mb = 1u << 20, gb = 1u << 30;
    const uint64_t files = facts.total_bytes / facts.file_bytes;
    const uint64_t threads_fit = room / (facts.file_bytes * facts.processes);
    const uint64_t gb_fit = room / (gb * files);
    const bool many = facts.processes > 1;
    std::string fits;
    if (threads_fit >= 1)
        fits = "at most " + std::to_string(threads_fit) + (threads_fit == 1 ? " thread" : " threads") +
               (many ? " per rank" : "") + " of " + std::to_string(facts.max_gb) + " GB";
    if (gb_fit >= 1)
        fits += (fits.empty() ? "" : ", or ") + std::to_string(facts.thread_count) +
                (facts.thread_count == 1 ? " thread" : " threads") + (many ? " per rank" : "") + " of at most " +
                std::to_string(gb_fit) + " GB";
    return facts.program + ": " + facts.folder + " is memory-backed: this run would put " +
           std::to_string(facts.total_bytes / mb) + " MB there (" + std::to_string(files) + (files == 1 ? " file" : " files") +
           (many ? " of " + std::to_string(facts.processes) + " ranks on this host" : std::string()) +
           "), more than the " + std::to_string(room / mb) +
           " MB that memory can hold now (what is available, or what this process's memory cgroup allows), and "
           "the system would kill processes to make room; use " +
           (fits.empty() ? std::string() : fits + ", or ") + "a folder on a disk\n";
}

std::vector<std::string> run_notes(const RunNoteFacts& facts) {
    const std::string head = facts.program + ": note: ";
    std::vector<std::string> notes;
    if (facts.prefix_is_folder)
        notes.push_back(head + facts.prefix + " is a folder, and the path is a prefix: the test files go beside it, " +
                        facts.prefix + "_00.BIN and on; to " + facts.inside_verb + " inside it, end the path with " + facts.separator +
                        " (" + facts.prefix + facts.separator + ")\n");
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
