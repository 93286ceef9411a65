// vorlax's record: its help text and the notes it prints before the writers start.
#include "main/vorlax_program.h"

#include <cstdio>

#include "main/run_notes.h"
#include "version.h"
#include "writer_thread/writer_thread.h"

namespace {

// Says on stderr, before any writer starts, when the figures of this run
// would measure memory or a compressor rather than the disk.
void print_write_notes(const RunSettings& settings) {
    for (const std::string& note : run_notes(write_note_facts("vorlax", settings))) std::fputs(note.c_str(), stderr);
}

const char* const number_descriptions[3] = {"block size in KB", "threads, one file each", "size of each file in GB"};
const RangeWording number_wording = {": ", ", default ", ", out of range ", ""};

// What --help prints after the usage line.
const std::string vorlax_help =
    "Measure how fast a disk takes sequential writes: each of max-threads threads\n"
    "writes its own test file of max-GB, one block of max-buf-KB at a time, while\n"
    "a line on stdout shows the MB written and the rate once a second.\n"
    "\n"
    "Arguments, by position (any may be left out from the end):\n"
    "  B|U          write mode (required): B (or b) buffered, through the\n"
    "               system's file cache; U (or u) unbuffered, straight to the\n"
    "               device. Only the first letter counts, and any letter but b\n"
    "               or B means unbuffered.\n"
    "  path         prefix of the test file names, not a folder: thread 0 writes\n"
    "               <path>_00.BIN, thread 1 <path>_01.BIN, ..., so d/run gives\n"
    "               d/run_00.BIN. End it with / to write into folder d. Default\n"
    "               ./ (.\\ on Windows): _00.BIN in the current folder.\n"
    + format_number_rows(number_descriptions, number_wording) +
    "\n"
    "Units are powers of two: a KB is 1024 bytes, an MB 2^20 bytes (not 10^6), a\n"
    "GB 2^30 bytes; rates are MB per second. Numbers are whole, without suffixes:\n"
    "4M reads as 4, 0.5 as 0 (out of range). A text without digits keeps the\n"
    "default. Each value replaced or read in part gets a note on stderr, and the\n"
    "first line on stdout shows the values in force.\n"
    "\n"
    "  -h, --help   show this help and exit (/? too on Windows)\n"
    "  --version    show the version and exit\n"
    "\n"
    "Examples:\n"
    "  vorlax U /mnt/ssd/run 1024 2 4   the disk's own speed: 1 MB blocks, two\n"
    "                                   threads, /mnt/ssd/run_00.BIN and _01.BIN\n"
    "                                   of 4 GB each\n"
    "  vorlax B /mnt/ssd/run 1024 2 4   the same writes through the file cache\n"
    "\n"
    "The test files stay on disk after the run (max-threads x max-GB in all):\n"
    "delete them yourself, e.g. rm /mnt/ssd/run_??.BIN. Notes on stderr say when\n"
    "the figures would show memory or a compressor rather than the disk.\n"
    "\n"
    "Exit status:\n"
    "  0  every thread wrote all its blocks (also after --help and --version)\n"
    "  1  a thread fell short: its file could not be created, its buffer or\n"
    "     thread not obtained, or a write failed or came back short\n"
    "  2  the command line cannot be run: a wrong argument count (the usage\n"
    "     line alone is printed) or a path prefix too long for the system\n"
    "\n"
    "Full documentation: man vorlax\n";

}  // namespace

const ProgramInfo vorlax_program = {
    "vorlax", usage_text, vorlax_help.c_str(), "vorlax (VORLAX) " VORLAX_VERSION "\n", "writing", "written", "writer",
    writer_thread, print_write_notes, false,
};
