// Notes on stderr for runs whose figures would mislead: a folder kept in
// memory, a file system that compresses, or buffered files small enough to
// stay in the page cache.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/settings.h"
#include "test_file/test_file.h"

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
    // What ends a prefix to name files inside a folder: / on both systems,
    // since Windows takes it too and a \ before a closing quote would
    // escape the quote ("E:\with space\" is refused).
    const char* separator = "/";
    const char* inside_verb = "write";  // the note's "to write inside it"; vorlax-read: "read"
};

// The note lines (each ending in '\n') for a run, in the order to print:
// - a memory-backed folder, either mode: the figures are memory speed;
// - a folder whose file system compresses (or may): every block is one
//   repeated byte, so the figures show the compressor, not the disk;
// - mode B into a folder with a disk behind it, when total_bytes fits in
//   available_bytes (known, above 0): the figures show the page cache until
//   it fills.
// - a prefix that names an existing folder: where the files are
//   (beside it) and how to name those inside it (end it with separator).
// Empty when none applies. Pure.
std::vector<std::string> run_notes(const RunNoteFacts& facts);

// The facts about the folder of settings' test files, looked up on this
// machine, each note headed by program; available_bytes and total_bytes
// stay 0, so no note on fitting in memory: a read run's files exist already.
RunNoteFacts folder_note_facts(const char* program, const RunSettings& settings);

// The line (ending in '\n') that refuses a write run putting more on a
// memory-backed folder than memory can hold (memory_room_bytes plus
// reused_bytes): it names the folder, the figures and the threads or GB
// that fit. Empty when the run fits, the folder is not memory-backed,
// memory is unknown, or the folder's own free space is the smaller limit
// (the run then ends on a full disk, as on any disk). Pure.
std::string memory_refusal_line(const RunNoteFacts& facts);

// folder_note_facts with the memory available and total_bytes counting this
// process's test files: the facts for a write run of settings; for a
// memory-backed folder also the facts memory_refusal_line needs.
RunNoteFacts write_note_facts(const char* program, const RunSettings& settings);
