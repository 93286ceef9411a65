// Pure pieces of the Linux folder probes (platform_posix_folders.cpp), named
// here so that they can be tested without the mounts they read. Only this
// folder and its tests include this header; the rest of the program uses
// platform.h.
#pragma once

#include <string>

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
