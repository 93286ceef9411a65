// vorlax-read: the readers, which read a run's test files back at the same
// settings, time the reads and check every byte.
#include "main/vorlax_read_program.h"

#include <cstdio>

#include "main/run_notes.h"
#include "output/output.h"
#include "reader_thread/reader_thread.h"
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

// Before any reader starts: writes out and drops every test file's cached
// pages, so mode B reads come from the device, and says on stderr when the
// figures will come from memory or a compressor all the same.
void drop_caches_and_note(const RunSettings& settings) {
    RunNoteFacts facts = folder_note_facts(vorlax_read_program.name, settings);
    facts.inside_verb = "read";
    const bool from_cache = settings.buffered && !facts.memory_backed;  // where a page left in memory matters
    std::string stayed_file, not_dropped_file;
    int drop_error = 0;
    for (uint32_t index = 0; index < settings.thread_count; ++index) {
        std::string name;
        int error = 0;
        if (!test_file_name(settings.path_prefix.c_str(), index, platform_max_path_bytes, &name)) continue;
        if (!file_drop_cached_pages(name.c_str(), &error)) {
            // Noted only for a file its reader will read (through a link, for
            // one); of the others the reader says why it cannot read them.
            int open_error = 0;
            const FileHandle file = from_cache && not_dropped_file.empty()
                                        ? file_open_read(name.c_str(), true, &open_error, nullptr)
                                        : invalid_file;
            if (file == invalid_file) continue;
            file_close(file);
            not_dropped_file = name;
            drop_error = error;
            continue;
        }
        if (from_cache && stayed_file.empty() && file_cache_residency(name.c_str()) == CacheResidency::stayed)
            stayed_file = name;
    }
    // The files were written already: no note on their fitting in memory.
    print_stderr_lines(run_notes(facts));
    print_stderr_line(pages_not_dropped_note(vorlax_read_program.name, not_dropped_file, drop_error));
    print_stderr_line(pages_stayed_note(vorlax_read_program.name, stayed_file));
}

}  // namespace

const ProgramInfo vorlax_read_program = {
    "vorlax-read", read_usage, read_help, "vorlax-read (VORLAX) " VORLAX_VERSION "\n", "reading", "read", "reader",
    reader_thread, drop_caches_and_note, true,
};
