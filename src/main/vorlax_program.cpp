// vorlax's record: its words, its threads and the notes it prints before the writers start.
#include "main/vorlax_program.h"

#include "notes/note_facts.h"
#include "output/output.h"
#include "version.h"
#include "writer_thread/writer_thread.h"

// The text of --help, from vorlax_help.txt beside this file.
extern const char vorlax_help_text[];

namespace {

const HelpText vorlax_help = {vorlax_help_text,
                              {"block size in KB", "threads, one file each", "size of each file in GB"},
                              {": ", ", default ", ", out of range ", ""}};

// Refuses a run that would put more on a memory-backed folder than memory
// can hold.
std::string write_refusal(const RunSettings& settings) {
    return memory_refusal_line(write_note_facts(vorlax_program.name, settings));
}

}  // namespace

const ProgramInfo vorlax_program = {
    "vorlax", usage_text, vorlax_help, "vorlax (VORLAX) " VORLAX_VERSION "\n", "writing", "written", "writer",
    writer_thread, write_note_facts, nullptr, false, write_refusal,
};
