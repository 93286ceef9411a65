// The notes on stderr: a run goes ahead, but the values it took or its
// figures are not what its command line may suggest. Every program's notes
// are made here, from facts the program gathers (note_facts.h) and readies
// (vorlax-read's page drop); each line is headed "<program>: note: ". Pure
// text: nothing here looks at a file or the system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/settings.h"

// What the notes are decided from; gathered by the program.
struct RunNoteFacts {
    std::string program = "vorlax";  // heads each note
    bool buffered = false;           // mode B (true) or U
    std::string folder;              // folder that holds the test files
    bool memory_backed = false;      // that folder's file system keeps files in memory
    FolderCompression compression;   // whether it stores them compressed
    uint64_t available_bytes = 0;    // memory_for_files_bytes() (a memory cgroup's limit counts); 0 unknown
    uint64_t total_bytes = 0;        // all test files together
    // A write run into a memory-backed folder (write_note_facts), for the
    // refusal below; there total_bytes counts only the files that go into
    // memory (no FIFO or device), of every process of the host.
    uint64_t file_bytes = 0;         // one test file
    uint32_t thread_count = 0;       // test files of each process
    uint32_t max_gb = 0;             // the size of each as given
    uint32_t processes = 1;          // processes of the run on this host (ranks)
    uint64_t memory_room_bytes = 0;  // memory_for_files_bytes(); 0 unknown
    uint64_t folder_free_bytes = 0;  // the folder's own free space; UINT64_MAX: no size of its own
    uint64_t reused_bytes = 0;       // what the run's names hold now: cut and given back first
    std::string prefix;              // the path prefix
    bool prefix_is_folder = false;   // the prefix names an existing folder
    std::string first_file;          // the first test file where not prefix + "_00.BIN" (vorlax-mpi: rank 0's)
    // What ends a prefix to name files inside a folder: the system's own;
    // on Windows / where the path needs quotes, since a \ before a closing
    // quote escapes the quote ("E:\with space\" is refused).
    const char* separator = "/";
    const char* inside_verb = "write";  // the note's "to write inside it"; vorlax-read: "read"
    // vorlax-read, after it readied the files (mode B from a disk only):
    std::string not_dropped_file;    // the first file whose cached pages could not be dropped
    int drop_error = 0;              // the error file_drop_cached_pages gave for it
    std::string stayed_file;         // the first file whose pages stayed cached after a flush and drop
    uint32_t files_found = 0;        // the test files from _00 on that exist (counted as they are readied)
    bool stayed_hidden = false;      // ...or may have: the system hides them from this user (CacheResidency::hidden)
};

// "<program>: note: ", which heads every note.
inline std::string note_head(const std::string& program) { return program + ": note: "; }

// The note lines (each ending in '\n') for a run, in the order to print:
// - a memory-backed folder, either mode: the figures are memory speed;
// - a folder whose file system compresses (or may): every block is one
//   repeated byte, so the figures show the compressor, not the disk;
// - mode B into a folder with a disk behind it, when total_bytes fits in
//   available_bytes (known, above 0): the figures show the page cache until
//   it fills.
// - a prefix that names an existing folder: where the files are
//   (beside it) and how to name those inside it (end it with separator,
//   or with / in quotes where separator is \ and the prefix needs quotes);
// - then vorlax-read's pages_not_dropped_note and pages_stayed_note.
// Empty when none applies. Pure.
std::vector<std::string> run_notes(const RunNoteFacts& facts);

// True when a mode B run of bytes into facts' folder (one with a disk behind
// it) fits in the memory available (known, above 0): its figures then show
// the page cache. Pure.
bool fits_in_page_cache(const RunNoteFacts& facts, uint64_t bytes);

// The note line (ending in '\n') after a mode B write run that ended early
// (its time limit or a stop) having written written_bytes, when those fit
// in the memory available though the whole run would not have (that one
// run_notes already notes): the figures may be memory speed. Empty
// otherwise. Pure.
std::string early_end_cache_note(const RunNoteFacts& facts, uint64_t written_bytes);

// The note line (ending in '\n'), headed by program's name, for a mode B
// read whose file's pages stayed cached after a flush and drop
// (stayed_file names it), or may have where hidden (this user neither owns
// the file nor may write it, so the system shows them all as held): why,
// and what to try. Empty when stayed_file is. Pure.
std::string pages_stayed_note(const std::string& program, const std::string& stayed_file, bool hidden = false);

// The note line (ending in '\n'), headed by program's name, for a mode B
// read of a file whose cached pages could not be dropped, with the error
// file_drop_cached_pages gave; empty when file is. Pure.
std::string pages_not_dropped_note(const std::string& program, const std::string& file, int error);

// One note line (ending in '\n') for each argument of a run that is replaced
// or read only in part, in argument order, each headed "<program>: note: ":
// a mode other than B, b, U or u; a number without digits (the default
// stays), out of range (what is used instead), or followed by other
// characters (what was read). Plain B, b, U, u and numbers in range give
// none, and so does any argument count but 1 to 5. activity ("writing")
// says what the mode does. Pure.
std::vector<std::string> argument_notes(int argc, const char* const* argv, const char* program,
                                        const char* activity);

// The line (ending in '\n') that refuses a write run putting more on a
// memory-backed folder than memory can hold (memory_room_bytes plus
// reused_bytes): it names the folder, the figures and the threads or GB
// that fit. Empty when the run fits, the folder is not memory-backed,
// memory is unknown, or the folder's own free space is the smaller limit
// (the run then ends on a full disk, as on any disk). Pure.
std::string memory_refusal_line(const RunNoteFacts& facts);
