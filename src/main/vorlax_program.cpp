// vorlax's record: its words, its threads and the notes it prints before the writers start.
#include "main/vorlax_program.h"

#include "main/run_notes.h"
#include "output/output.h"
#include "version.h"
#include "writer_thread/writer_thread.h"

// The text of --help, from vorlax_help.txt beside this file.
extern const char vorlax_help_text[];

namespace {

const HelpText vorlax_help = {vorlax_help_text,
                              {"block size in KB", "threads, one file each", "size of each file in GB"},
                              {": ", ", default ", ", out of range ", ""}};

// Says on stderr, before any writer starts, when the figures of this run
// would measure memory or a compressor rather than the disk.
void print_write_notes(const RunSettings& settings) {
    print_stderr_lines(run_notes(write_note_facts(vorlax_program.name, settings)));
}

// Refuses a run that would put more on a memory-backed folder than memory
// can hold.
std::string write_refusal(const RunSettings& settings) {
    return memory_refusal_line(write_note_facts(vorlax_program.name, settings));
}

}  // namespace

const ProgramInfo vorlax_program = {
    "vorlax", usage_text, vorlax_help, "vorlax (VORLAX) " VORLAX_VERSION "\n", "writing", "written", "writer",
    writer_thread, print_write_notes, false, write_refusal,
};
