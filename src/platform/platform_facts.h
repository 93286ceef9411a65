// Facts for the run record, and the entries VORLAX writes whole: part of
// the platform layer's neutral interface. Include platform/platform.h, which
// includes this.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform_files.h"

// ---- Facts for the run record -----------------------------------------------

// The machine, as far as the system tells: an empty text or 0 is unknown.
struct MachineFacts {
    std::string system;   // "Linux", "Windows"
    std::string kernel;   // the kernel's release, "6.1.0-27-amd64"
    std::string cpu;      // the processor's model name
    uint32_t cores = 0;   // logical processors online
    uint64_t memory_mb = 0;
};
MachineFacts machine_facts();

// Where the files of a folder go: an empty text is unknown.
struct TargetFacts {
    std::string file_system;  // "ext4", "NTFS"
    std::string device;       // "/dev/nvme0n1p2", "C:"
    std::string model;        // the disk's model, where the system names it
    bool free_known = false;
    uint64_t free_mb = 0;     // free space the running user may fill
};
TargetFacts target_facts(const char* folder);

// What a name given for a file VORLAX writes whole (the run record) is now.
enum class EntryKind {
    missing,       // nothing yet, or nothing the system lets us look at
    file,          // a regular file: replaced whole
    folder,
    stream,        // a character device, FIFO or socket: written into as it is
    block_device,  // a disk or partition
};
struct EntryFacts {
    EntryKind kind = EntryKind::missing;
    std::string target;    // name with its links followed: where the file is, or goes
    ForeignEntry foreign;  // a link not followed, or a file the user may not replace (kind file)
};

// Looks at name without opening it (a FIFO's reader sees nothing). A link
// is followed, link by link, except one of another user in a sticky folder
// every user writes to (foreign link, as file_create refuses it); an
// existing file that the running user may not replace by a rename (a
// sticky folder, another user's file) is a foreign file.
EntryFacts entry_facts(const char* name);

// True when names a and b are one file: the same file where both exist,
// else the same name once links and the folders' paths are resolved.
bool names_one_file(const char* a, const char* b);

// Opens an existing device or FIFO for writing as it is: never created,
// cut or replaced. A FIFO that no one reads fails at once, with an error
// platform_is_unread tells; once open, writes wait for its reader.
// Returns invalid_file and sets *error on failure.
FileHandle file_open_stream(const char* name, int* error);
bool platform_is_unread(int error);

// Puts the file from in place of to (which may exist) in one step, so a
// reader of to sees the old file or the new, never part of one. Returns
// false and sets *error on failure.
bool file_replace(const char* from, const char* to, int* error);

// Removes the file name. Returns false and sets *error (unless null) on
// failure.
bool file_remove(const char* name, int* error = nullptr);
