// The system services VORLAX uses, behind one neutral interface.
// VORLAX runs on Linux and Windows, and CMake builds one set of files per
// system: platform_linux*.cpp (glibc and Linux calls: O_DIRECT, statx,
// /proc) or platform_win32*.cpp (kernel32). Both sets are split alike:
// files, folders and notes, reading back. Nothing outside this folder
// includes a system header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---- Limits and capabilities of the system at hand --------------------------

// Prefix that puts the test files in the current directory ("./" or ".\").
extern const char* const platform_default_prefix;
// Longest file name the system accepts, terminator included.
extern const size_t platform_max_path_bytes;

// The characters a file name may not hold here beside NUL: on Windows
// < > : " | ? * (a ':' only as a drive's, "E:"), on Linux none.
extern const char* const platform_name_forbidden_chars;
// Why a file name could not be created here for its length: which limit it
// passes ("a whole path": the path as the system resolves it, "one name": its
// last part), its length and the limit, in the system's units (Linux bytes,
// Windows UTF-16 units); what is null when the name fits.
struct NameLengthLimit {
    const char* what = nullptr;
    size_t length = 0;
    size_t limit = 0;
};
NameLengthLimit platform_name_length_limit(const std::string& name);
// What a write that came back short may mean, after "; ": "the disk may be
// full" and, where the system has them, file size limits.
extern const char* const platform_short_write_causes;
// Where the system logs a device's errors, as a help line names it.
extern const char* const platform_device_log;

// The words the help texts use that differ between systems: each stands
// for a marker in a help text ("<example>" and so on; see format_help).
struct PlatformHelpWords {
    const char* example;     // an example path prefix on a disk: "/mnt/ssd/run"
    const char* separator;   // what ends a folder's name: "/"
    const char* remove;      // the command that deletes files: "rm"
    const char* bypass;      // how the system bypasses its cache: "O_DIRECT"
    const char* docs;        // where the full documentation is; "%s" the program
    const char* help_option; // the option a user there types for the help: "--help"
    const char* quoted_end;  // how a quoted folder path ends, after the help's "End it with /": "" or a line
};
extern const PlatformHelpWords platform_help_words;

// One-time process setup before any thread starts (signal dispositions,
// console modes). Safe to call more than once.
void platform_init_process();

// The command line's arguments (argv[0] included) as UTF-8: on Linux argv
// as it is; on Windows the system's UTF-16 command line, split as the C
// runtime splits it, so no character is lost to the ANSI code page.
std::vector<std::string> platform_arguments(int argc, const char* const* argv);

// Writes text (UTF-8, '\n' line ends) to stderr at once, unbuffered, in one
// call where the system allows: to a Windows console as UTF-16, elsewhere
// as UTF-8 bytes (with CR LF line ends on Windows). One process-wide lock,
// shared with platform_write_stdout, is held around the write, so a line
// from one thread is never split by another's.
void platform_write_stderr(const std::string& text);

// platform_write_stderr for stdout: the same lock, the same forms.
void platform_write_stdout(const std::string& text);

// Why a run is asked to stop before its end.
enum class StopReason : int32_t {
    none = 0,
    interrupt,  // Ctrl-C, Ctrl-Break, SIGINT: exit status 130
    terminate,  // SIGTERM: exit status 143
    deadline,   // the run's own time limit
};

// From now on, Ctrl-C, Ctrl-Break (Windows), SIGINT and SIGTERM (Linux) call
// on_request with their reason, once: the first restores the default
// disposition, so a second one ends the process at once; one the process
// was started with ignored stays ignored. With keep_watching every one
// calls on_request and none ends the process (an MPI rank, whose launcher
// sends SIGINT, then SIGTERM, then SIGKILL). on_request runs in a signal
// handler or the system's console thread: it may only touch lock-free
// atomics.
void watch_stop_requests(void (*on_request)(StopReason reason), bool keep_watching = false);

// ---- Errors -----------------------------------------------------------------

// The system's own description of an error code from the calls below.
std::string platform_error_text(int error);
// True when error is how the system refuses a write that bypasses its cache:
// an unaligned size or a file system without support for it.
bool platform_is_unbuffered_refusal(int error);
// True when error is how the system refuses to create a file in a folder
// that does not exist.
bool platform_is_missing_folder(int error);
// True when error is how the system refuses to create a file on a file
// system (or medium) that takes no writes.
bool platform_is_read_only_volume(int error);
// True when error is how the system says a file to open does not exist
// (nor, it may be, its folder).
bool platform_is_missing_file(int error);
// True when error is how the system says a name given as a file's is a
// folder's (file_create and file_open_read give it).
bool platform_is_folder(int error);
// What a name that file_open_read or file_drop_cached_pages refused as no
// regular file is, in words ("a folder", "a FIFO", "a device"), from the
// error they set; nullptr for any other error.
const char* platform_not_a_file_kind(int error);
// True when error is how the system refuses a write for want of room: a
// full disk, a quota, a file size limit.
bool platform_is_out_of_space(int error);
// The drive that path names ("Q:") when no such drive exists; "" when it
// does, or path names none, or the system has no drive letters.
std::string platform_missing_drive(const char* path);

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

// ---- Memory -----------------------------------------------------------------

// Page-aligned read-write memory from the system's page allocator, or
// nullptr with *error set.
void* pages_alloc(size_t bytes, int* error);
// Releases memory from pages_alloc; bytes is the size that was asked for.
void pages_free(void* pages, size_t bytes);
// Memory the system could hand out now without swapping, page cache
// included, in bytes; 0 when it cannot tell.
uint64_t available_memory_bytes();
// Bytes that files written now to a memory-backed folder could take before
// memory runs out: the memory available, or, where less, what the memory
// cgroup of this process (and each above it) allows beyond its use (Linux:
// v1 memory.limit_in_bytes, v2 memory.max). Such files are charged to no
// process and stay in memory. Also the measure of whether a buffered
// run's files fit in the page cache. 0 when the system cannot tell.
uint64_t memory_for_files_bytes();
// Free space of the file system that holds folder, UINT64_MAX where it has
// no size of its own (ramfs); 0 when it cannot tell.
uint64_t folder_free_bytes(const char* folder);

// ---- Threads ----------------------------------------------------------------

struct ThreadHandle {
    uintptr_t value;
};
using ThreadRoutine = void (*)(void* arg);

// Starts routine(arg) on a new thread with a small stack. Returns false and
// sets *error when the system cannot start it.
bool thread_start(ThreadRoutine routine, void* arg, ThreadHandle* thread, int* error);
// Waits for a started thread to end and releases it.
void thread_join(ThreadHandle thread);

// ---- Time -------------------------------------------------------------------

// Milliseconds from a fixed, arbitrary origin; never goes back, does not wrap.
uint64_t tick_ms();
// Nanoseconds on the monotonic clock (CLOCK_MONOTONIC,
// QueryPerformanceCounter), from an arbitrary origin: for timing blocks.
uint64_t tick_ns();
// Suspends the calling thread; 0 gives up the rest of its time slice.
void sleep_ms(uint32_t ms);

// The block clock: raw ticks, read twice per timed block, cheaper than
// tick_ns() where the processor's time-stamp counter runs at a constant
// rate, in every power state, and Linux keeps its monotonic clock by it
// (x86-64: rdtsc); elsewhere tick_ns() itself, or QueryPerformanceCounter.
// A scale turns ticks into tick_ns() time:
//     ns = origin_ns + (ticks - origin_ticks) * ns_per_tick_q32 / 2^32.
struct BlockClockScale {
    uint64_t origin_ticks;
    uint64_t origin_ns;        // tick_ns() at origin_ticks
    uint64_t ns_per_tick_q32;  // nanoseconds per tick, times 2^32
};
// Picks the block clock and returns its scale, measured against tick_ns()
// (over about 20 ms when it is the time-stamp counter). Once per process,
// before any thread reads the clock.
BlockClockScale block_clock_start();
// The block clock now, in ticks.
uint64_t block_clock_now();
// Nanoseconds in ticks ticks at ns_per_tick_q32 (rounded down). Pure.
inline uint64_t block_clock_span_ns(uint64_t ticks, uint64_t ns_per_tick_q32) {
    const uint64_t whole = ns_per_tick_q32 >> 32, part = ns_per_tick_q32 & 0xffffffffu;
    return ticks * whole + (ticks >> 32) * part + (((ticks & 0xffffffffu) * part) >> 32);
}
// The tick_ns() time of ticks. Pure.
inline uint64_t block_clock_ns(const BlockClockScale& scale, uint64_t ticks) {
    if (ticks >= scale.origin_ticks)
        return scale.origin_ns + block_clock_span_ns(ticks - scale.origin_ticks, scale.ns_per_tick_q32);
    const uint64_t back = block_clock_span_ns(scale.origin_ticks - ticks, scale.ns_per_tick_q32);
    return back < scale.origin_ns ? scale.origin_ns - back : 0;
}

// ---- One-shot signal --------------------------------------------------------

// Set once by one thread, waited for with a time limit by others; it stays
// set. signal_create never fails: both systems make one from a lock and a
// condition variable, which cannot fail to be made.
struct DoneSignal;
DoneSignal* signal_create();
void signal_set(DoneSignal* signal);
// Returns true once the signal is set, false when timeout_ms passed first.
bool signal_wait_ms(DoneSignal* signal, uint32_t timeout_ms);
void signal_destroy(DoneSignal* signal);

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
