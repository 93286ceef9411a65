// vorlax-read: the readers, which read a run's test files back at the same
// settings, time the reads and check every byte.
#include "main/vorlax_read_program.h"

#include <cstdio>

#include "main/run_notes.h"
#include "reader_thread/reader_thread.h"
#include "test_file/test_file.h"
#include "version.h"

namespace {

const char* const read_usage = "Usage: vorlax-read <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n";

const char* const number_descriptions[3] = {"block size in KB", "reader threads, one file each",
                                            "size of each file in GB"};
const RangeWording number_wording = {", ", " (default ", "; out of range: ", ")"};

const std::string read_help =
    "Read back the test files that vorlax wrote with the same arguments, time\n"
    "the reads, and check every byte of every block.\n"
    "\n"
    "  B|U          read mode: a first letter b or B reads through the system's\n"
    "               file cache (after a flush and drop of each file's cached\n"
    "               pages); anything else reads around it (O_DIRECT)\n"
    "  path         prefix of the test file names: thread i reads <path>_NN.BIN,\n"
    "               NN = i in two digits (default ./); d/run reads d/run_00.BIN\n"
    + format_number_rows(number_descriptions, number_wording) +
    "\n"
    "Units are powers of two: a KB is 1024 bytes, an MB 2^20 bytes (not 10^6), a\n"
    "GB 2^30 bytes; rates are MB per second. Numbers are whole, without suffixes\n"
    "(\"256k\" reads as 256); each value replaced or read in part gets a note on\n"
    "stderr, and the first line on stdout shows the values in force.\n"
    "\n"
    "  -h, --help   show this help and exit (/? too on Windows)\n"
    "  --version    show the version and exit\n"
    "\n"
    "Examples:\n"
    "  vorlax U /mnt/ssd/run 1024 2 4 && vorlax-read U /mnt/ssd/run 1024 2 4\n"
    "  vorlax-read B ./ 64          read back ./_00.BIN, written with 64 KB blocks\n"
    "\n"
    "Block k of every file must hold the byte k mod 256 throughout. A file that\n"
    "is missing, shorter or longer than the run's size, not a whole number of\n"
    "blocks, unreadable in places, holding holes or wrong bytes gets one line\n"
    "on stderr, with what to try: the first bad block, the byte found and\n"
    "expected, how many blocks are bad, and what the damage looks like. A file\n"
    "written with another block size is named with the size to use, and its\n"
    "length judged in that size. The pattern repeats every 256 blocks: a block\n"
    "moved by a multiple of 256 blocks, swapped files and a card that fakes\n"
    "its capacity read back as good. This checks integrity, not capacity.\n"
    "\n"
    "Exit status: 0 every file whole and every block right; 1 anything\n"
    "missing, short, unreadable or wrong; 2 a command line that cannot be run.\n"
    "\n"
    "More in man vorlax-read.\n";

// Before any reader starts: writes out and drops every test file's cached
// pages, so mode B reads come from the device, and says on stderr when the
// figures will come from memory or a compressor all the same.
void drop_caches_and_note(const RunSettings& settings) {
    const RunNoteFacts facts = folder_note_facts("vorlax-read", settings);
    std::string stayed_file;
    for (uint32_t index = 0; index < settings.thread_count; ++index) {
        std::string name;
        int error = 0;
        if (!test_file_name(settings.path_prefix, index, platform_max_path_bytes, &name) ||
            !file_drop_cached_pages(name.c_str(), &error))
            continue;  // the reader says why it cannot read the file
        if (settings.buffered && !facts.memory_backed && stayed_file.empty() &&
            file_cache_residency(name.c_str()) == CacheResidency::stayed)
            stayed_file = name;
    }
    // The files were written already: no note on their fitting in memory.
    for (const std::string& note : run_notes(facts)) std::fputs(note.c_str(), stderr);
    std::fputs(pages_stayed_note("vorlax-read", stayed_file).c_str(), stderr);
}

}  // namespace

const ProgramInfo vorlax_read_program = {
    "vorlax-read", read_usage, read_help.c_str(), "vorlax-read (VORLAX) " VORLAX_VERSION "\n", "reading", "read",
    "reader", reader_thread, drop_caches_and_note, true,
};
