// Files and folders, and reading files back: part of the platform layer's
// neutral interface. Include platform/platform.h, which includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// ---- Files ------------------------------------------------------------------

using FileHandle = intptr_t;
constexpr FileHandle invalid_file = -1;

// A name that is not opened because another user may have put it there: in
// a folder that is sticky and writable by every user, a symbolic link, or
// an existing file, that neither the running user nor the folder's owner
// owns. Such a link could point anywhere, such a file be anyone's.
enum class ForeignKind { none, link, file };
struct ForeignEntry {
    ForeignKind kind = ForeignKind::none;
    std::string owner;   // the owner's user name, or its number where it has none
    std::string folder;  // the folder that holds it
};

// Whether a link or existing file owned by entry_owner_id may be followed
// or cut by user_id in a folder of folder_mode (POSIX bits: 01000 sticky,
// 0002 writable by others) owned by folder_owner_id: always, unless the
// folder is both sticky and writable by others; there only when user_id or
// folder_owner_id owns the entry. Pure; only the Linux side has such folders.
bool shared_folder_allows(uint32_t folder_mode, uint32_t folder_owner_id, uint32_t entry_owner_id,
                          uint32_t user_id);

// Creates name anew, or cuts an existing file to zero length, for writing
// only. With buffered false the writes bypass the system's file cache.
// Returns invalid_file and sets *error on failure; when the name is a
// foreign entry (above) it is left untouched, *foreign (unless null) says
// whose and where, and *error is the system's "not permitted".
FileHandle file_create(const char* name, bool buffered, int* error, ForeignEntry* foreign);

// One synchronous write of bytes at the file's position, carried on after
// a signal cuts it short (Linux: EINTR, or a part written) until all bytes
// are written or the system refuses the rest. Returns false and sets *error
// when nothing could be written; otherwise stores the count in *written,
// which is below bytes for a short write (*error is then 0).
bool file_write(FileHandle file, const void* data, size_t bytes, size_t* written, int* error);

// Size and offset alignment in bytes that unbuffered writes to file need,
// or 0 when the system cannot tell.
uint32_t file_unbuffered_alignment_bytes(FileHandle file);

// Makes everything written to file durable on its device (fsync,
// FlushFileBuffers); true also for a file with nothing to make durable (a
// device such as /dev/null). Returns false and sets *error when it fails.
bool file_sync(FileHandle file, int* error);

void file_close(FileHandle file);

// True when the file system that holds folder keeps its files in memory
// (tmpfs, ramfs): figures measured there are memory speed, not a disk's.
bool folder_is_memory_backed(const char* folder);

// True when path names an existing folder.
bool path_is_folder(const char* path);

// True when both paths exist and lie on one file system (one mounted
// device, one volume); false when either cannot be looked at.
bool same_file_system(const char* path_a, const char* path_b);

// What the file system that holds a folder does with the bytes written there.
enum class CompressionKind {
    none,           // stored as written, as far as the system can tell
    mount_option,   // mounted to compress what it stores; detail is the option
    folder_marked,  // the folder is marked for compression, new files inherit it
    may_compress,   // compresses by settings the system does not show here;
                    // detail is the command that shows them
};
struct FolderCompression {
    CompressionKind kind = CompressionKind::none;
    std::string file_system;  // "btrfs", "zfs", "NTFS"; may be empty for none
    std::string detail;
};

// Whether files created in folder are stored compressed. none when the
// folder cannot be looked at.
FolderCompression folder_compression(const char* folder);

// ---- Reading files back -----------------------------------------------------

// Opens an existing name for reading only. With buffered false the reads
// bypass the system's file cache and, like unbuffered writes, need sizes
// and offsets that are whole multiples of the device's sector size.
// Returns invalid_file and sets *error on failure; a folder is a failure
// that platform_is_folder(*error) tells, anything else but a regular file
// (a FIFO, never waited on; a device) one that platform_not_a_file_kind
// names, and a foreign link (above) is not followed and is reported in
// *foreign as file_create does.
FileHandle file_open_read(const char* name, bool buffered, int* error, ForeignEntry* foreign);

// One synchronous read of up to bytes at offset, leaving no position behind
// it. Returns false and sets *error when the system reports a failure (an
// unreadable sector, a refused unbuffered size); otherwise stores the count
// in *got, which is below bytes only at the end of the file.
bool file_read_at(FileHandle file, void* data, size_t bytes, uint64_t offset, size_t* got, int* error);

// The file's length in bytes. Returns false and sets *error on failure.
bool file_size_bytes(FileHandle file, uint64_t* bytes, int* error);

// Bytes [start_bytes, end_bytes) of a file.
struct ByteRange {
    uint64_t start_bytes;
    uint64_t end_bytes;
};

// The first hole of file that ends after from_bytes and starts before
// end_bytes: a range the file system keeps no data for, which reads as
// zeros. Returns true with *hole (cut to [from_bytes, end_bytes)) when there
// is one; false when there is none, or the file system keeps no holes or
// cannot say.
bool file_next_hole(FileHandle file, uint64_t from_bytes, uint64_t end_bytes, ByteRange* hole);

// Writes out name's changed pages and asks the system to drop its cached
// ones, so the next reads come from the device. Best effort: returns false
// and sets *error when name cannot be opened (a foreign link among the
// reasons, as file_open_read) or the system refuses. Neither this nor
// file_cache_residency follows a link or waits: a link, FIFO, device or
// folder is refused with an error platform_not_a_file_kind names.
bool file_drop_cached_pages(const char* name, int* error);

// hidden: the system shows this user every page of the file as held (Linux
// does so for a file the user neither owns nor may write), so it cannot tell.
enum class CacheResidency { dropped, stayed, hidden, unknown };

// Whether most of the first pages of name are still held in memory (right
// after file_drop_cached_pages: whether the drop took hold); hidden or
// unknown where the system does not tell.
CacheResidency file_cache_residency(const char* name);
