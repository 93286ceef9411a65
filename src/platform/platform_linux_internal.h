// What the Linux implementation files share among themselves, and the pure
// pieces of the folder probes (platform_linux_folders.cpp), named here so
// that they can be tested without the mounts they read. Only this folder
// and its tests include this header; the rest of the program uses
// platform.h.
#pragma once

#include <string>

#include "platform/platform.h"

// Opens name with open(2)'s flags (O_TRUNC left out: with cut, a regular
// file is cut to zero length once it is open) relative to a descriptor of
// its folder. In a folder that is sticky and writable by others a symbolic
// link is followed, and an existing regular file cut, only when the running
// user or the folder's owner owns it; otherwise nothing is touched, *foreign
// (unless null) says whose and where, *error is EPERM and the result -1.
// Elsewhere it is one open(name, flags | O_TRUNC when cut). Returns the
// descriptor, or -1 with *error set.
int open_guarded(const char* name, int flags, bool cut, int* error, ForeignEntry* foreign);

// The ForeignEntry of an entry of kind owned by owner_id in folder: the
// owner's user name (its number where it has none), the folder's full path.
ForeignEntry foreign_entry(ForeignKind kind, uint32_t owner_id, const std::string& folder);

// Whether user_id may rename another file onto an existing one of
// entry_owner_id in a folder of folder_mode owned by folder_owner_id: in a
// sticky folder (01000) only the entry's owner, the folder's owner and root
// may. Pure.
bool sticky_folder_lets_replace(uint32_t folder_mode, uint32_t folder_owner_id, uint32_t entry_owner_id,
                                uint32_t user_id);

// A mount point or source as /proc/self/mountinfo writes it, with its octal
// escapes (\040 for a blank, \011 tab, \012 line end, \134 backslash) turned
// back into the bytes they stand for; any other backslash is kept as it is.
std::string mountinfo_unescaped(const std::string& text);

// True when mount_point (an absolute path with no trailing slash, or "/") is
// path or one of the folders above it.
bool mount_point_holds(const std::string& mount_point, const std::string& path);

// The compress or compress-force option in a btrfs mount's comma-separated
// options, or "" when it stores data as written (no such option, or one set
// to no or none).
std::string btrfs_compress_option(const std::string& options);

// The folder of this process's memory cgroup, from the text of
// /proc/self/cgroup: /sys/fs/cgroup/memory/<path> for a v1 hierarchy with
// the memory controller, else /sys/fs/cgroup/<path> for the v2 one ("0::");
// "" when it names neither.
std::string memory_cgroup_folder(const std::string& proc_self_cgroup);

// A mount as /proc/self/mountinfo lists it.
struct Mount {
    std::string mount_point;
    std::string file_system;
    std::string source;
    std::string options;  // the file system's own, such as compress=zstd:3
};

// The mount that holds folder: the deepest mount point above it, the last
// listed where mounts are stacked. false when it cannot be found.
bool mount_of(const char* folder, Mount* found);

// The value of the first "key : value" line of /proc/cpuinfo's text whose
// key is key, or "" when none.
std::string cpuinfo_value(const std::string& text, const char* key);

// The whole text of a file, "" when it cannot be read
// (platform_linux_facts.cpp).
std::string file_text(const std::string& name);

// True when the time-stamp counter keeps time: /proc/cpuinfo's text has
// constant_tsc and nonstop_tsc among its (first processor's) flags and
// the kernel's clock source (clocksource0/current_clocksource) is tsc, so
// the counters of all processors agree.
bool tsc_keeps_time(const std::string& cpuinfo, const std::string& clocksource);
