// vorlax-read: the readers, which read a run's test files back at the same
// settings, time the reads and check every byte.
#include "main/vorlax_read_program.h"

#include <cstdio>

#include "notes/note_facts.h"
#include "output/output.h"
#include "reader_thread/reader_thread.h"
#include "worker/worker.h"
#include "test_file/test_file.h"
#include "version.h"

// The text of --help, from vorlax_read_help.txt beside this file.
extern const char vorlax_read_help_text[];

namespace {

const char* const read_usage = "Usage: vorlax-read <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n";
const HelpText read_help = {vorlax_read_help_text,
                            {"block size in KB", "reader threads, one file each", "size of each file in GB"},
                            {", ", " (default ", "; out of range: ", ")"},
                            false};

// The facts of the notes of a read run: those of its folder. The files were
// written already: no note on their fitting in memory.
RunNoteFacts read_note_facts(const char* program, const RunSettings& settings) {
    RunNoteFacts facts = folder_note_facts(program, settings);
    facts.inside_verb = "read";
    return facts;
}

// Before any reader starts: writes out and drops every test file's cached
// pages, so mode B reads come from the device, and notes in *facts the
// first file whose pages could not be dropped or stayed all the same.
void drop_cached_pages(const RunSettings& settings, RunNoteFacts* facts) {
    const bool from_cache = settings.buffered && !facts->memory_backed;  // where a page left in memory matters
    for (uint32_t index = 0; index < settings.thread_count; ++index) {
        std::string name;
        int error = 0;
        if (!test_file_name(settings.path_prefix.c_str(), index, platform_max_path_bytes, &name)) continue;
        const bool dropped = file_drop_cached_pages(name.c_str(), &error);
        if (index == facts->files_found && (dropped || !platform_is_missing_file(error))) ++facts->files_found;
        if (!dropped) {
            // Noted only for a file its reader will read (through a link, for
            // one); of the others the reader says why it cannot read them.
            int open_error = 0;
            const OpenFile file(from_cache && facts->not_dropped_file.empty()
                                    ? file_open_read(name.c_str(), true, &open_error, nullptr)
                                    : invalid_file);
            if (file.handle == invalid_file) continue;
            facts->not_dropped_file = name;
            facts->drop_error = error;
            continue;
        }
        if (!from_cache || !facts->stayed_file.empty()) continue;
        const CacheResidency residency = file_cache_residency(name.c_str());
        if (residency != CacheResidency::stayed && residency != CacheResidency::hidden) continue;
        facts->stayed_file = name;
        facts->stayed_hidden = residency == CacheResidency::hidden;
    }
}

}  // namespace

const ProgramInfo vorlax_read_program = {
    "vorlax-read", read_usage, read_help, "vorlax-read (VORLAX) " VORLAX_VERSION "\n", "reading", "read", "reader",
    reader_thread, read_note_facts, drop_cached_pages, true,
};
