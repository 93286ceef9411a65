// vorlax: the writers, with the notes that memory-backed, compressing and
// buffered writes call for.
#include <cstdio>

#include "main/program.h"
#include "main/run_driver.h"
#include "main/run_notes.h"
#include "test_file/test_file.h"
#include "writer_thread/writer_thread.h"

#ifndef VORLAX_VERSION
#define VORLAX_VERSION "unknown"
#endif

namespace {

// Says on stderr, before any writer starts, when the figures of this run
// would measure memory or a compressor rather than the disk.
void print_write_notes(const RunSettings& settings) {
    RunNoteFacts facts;
    facts.buffered = settings.buffered;
    facts.folder = prefix_folder(settings.path_prefix);
    facts.memory_backed = folder_is_memory_backed(facts.folder.c_str());
    facts.compression = folder_compression(facts.folder.c_str());
    facts.available_bytes = available_memory_bytes();
    facts.total_bytes = static_cast<uint64_t>(settings.thread_count) *
                        static_cast<uint64_t>(test_file_block_count(settings.max_gb, settings.buffer_kb)) *
                        settings.buffer_kb * 1024u;
    for (const std::string& note : run_notes(facts)) std::fputs(note.c_str(), stderr);
}

}  // namespace

const ProgramInfo vorlax_program = {
    "vorlax", usage_text, "", "VORLAX " VORLAX_VERSION "\n", "writing", "written", "writer", writer_thread,
    print_write_notes,
};

int run_vorlax(int argc, const char* const* argv) { return run_program(vorlax_program, argc, argv); }
