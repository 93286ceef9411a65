// The system services VORLAX uses, behind one neutral interface.
// VORLAX runs on Linux and Windows, and CMake builds one set of files per
// system: platform_linux*.cpp (glibc and Linux calls: O_DIRECT, statx,
// /proc) or platform_win32*.cpp (kernel32). Both sets are split alike:
// files, folders and notes, reading back. Nothing outside this folder
// includes a system header, and code includes this header only: its parts on
// files, time and the run record's facts are in the headers it includes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform_facts.h"
#include "platform/platform_files.h"
#include "platform/platform_time.h"

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
