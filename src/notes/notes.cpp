#include "notes/notes.h"

#include <cstdint>

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
    const std::string head = note_head(facts.program);
    std::vector<std::string> notes;
    if (facts.prefix_is_folder) {
        // In cmd a \ before a closing quote escapes the quote: a path that
        // needs quotes ends in / there, which Windows takes too.
        const bool quoted = std::string(facts.separator) == "\\" &&
                            facts.prefix.find_first_of(" &()[]{}^=;!'+,`~") != std::string::npos;
        const char* separator = quoted ? "/" : facts.separator;
        notes.push_back(head + facts.prefix + " is a folder, and the path is a prefix: the test files go beside it, " +
                        (facts.first_file.empty() ? facts.prefix + "_00.BIN" : facts.first_file) + " and on; to " +
                        facts.inside_verb + " inside it, end the path with " +
                        separator + " (" + (quoted ? "\"" : "") + facts.prefix + separator + (quoted ? "\"" : "") +
                        ")\n");
    }
    if (facts.memory_backed)
        notes.push_back(head + facts.folder + " is memory-backed; these figures are memory speed, not a disk's\n");
    std::string compressed = compression_note(head, facts);
    if (!compressed.empty()) notes.push_back(compressed);
    if (fits_in_page_cache(facts, facts.total_bytes)) {
        constexpr uint64_t mb = 1u << 20;
        notes.push_back(head + "the test files (" + std::to_string(facts.total_bytes / mb) +
                        " MB in all) fit in the memory available (" + std::to_string(facts.available_bytes / mb) +
                        " MB); these figures will show the page cache until it fills; mode U or a larger size "
                        "measures the disk\n");
    }
    for (const std::string& note : {pages_not_dropped_note(facts.program, facts.not_dropped_file, facts.drop_error),
                                    pages_stayed_note(facts.program, facts.stayed_file, facts.stayed_hidden)})
        if (!note.empty()) notes.push_back(note);
    return notes;
}

bool fits_in_page_cache(const RunNoteFacts& facts, uint64_t bytes) {
    return facts.buffered && !facts.memory_backed && facts.available_bytes > 0 && bytes <= facts.available_bytes;
}

std::string early_end_cache_note(const RunNoteFacts& facts, uint64_t written_bytes) {
    if (fits_in_page_cache(facts, facts.total_bytes) || !fits_in_page_cache(facts, written_bytes))
        return std::string();
    constexpr uint64_t mb = 1u << 20;
    return note_head(facts.program) + "the run ended having written " + std::to_string(written_bytes / mb) +
           " MB, less than the memory available (" + std::to_string(facts.available_bytes / mb) +
           " MB); these figures may be memory speed, not the disk's; give more seconds or use mode U\n";
}

std::string pages_stayed_note(const std::string& program, const std::string& stayed_file, bool hidden) {
    if (stayed_file.empty()) return std::string();
    const std::string drop_caches = "drop the caches as root (echo 1 > /proc/sys/vm/drop_caches)";
    if (hidden)
        return note_head(program) + "the pages of " + stayed_file +
               " may have stayed in memory after a flush and drop: this user neither owns it nor may write it, "
               "so the system shows all its pages as held; these figures may be memory speed, not the disk's; "
               "read as the file's owner or root, read with U, or " + drop_caches + "\n";
    return note_head(program) + "the pages of " + stayed_file +
           " stayed in memory after a flush and drop (mapped or busy elsewhere); these figures may be memory speed, "
           "not the disk's; read with U, or " + drop_caches + "\n";
}

std::string pages_not_dropped_note(const std::string& program, const std::string& file, int error) {
    if (file.empty()) return std::string();
    const char* kind = platform_not_a_file_kind(error);
    return note_head(program) + "the cached pages of " + file + " could not be dropped (" +
           (kind ? std::string("it is ") + kind : platform_error_text(error)) +
           "); these figures may be memory speed, not the disk's\n";
}
