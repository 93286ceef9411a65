#include "notes/note_facts.h"

#include "test_file/test_file.h"

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
    facts.separator = platform_help_words.separator;
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
