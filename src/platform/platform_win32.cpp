// Win32 implementation of the platform layer: kernel32 services only, so the
// program runs on a bare Windows (Vista or later).
#include "platform/platform.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

// The run's byte total is a 64-bit atomic shared by every writer. It must
// compile to plain lock-free instructions (cmpxchg8b on i686) and never to
// a library call that would need a runtime DLL.
static_assert(std::atomic<uint64_t>::is_always_lock_free, "64-bit atomics must be lock-free");
static_assert(std::atomic<int32_t>::is_always_lock_free, "32-bit atomics must be lock-free");

const char* const platform_default_prefix = ".\\";
const size_t platform_max_path_bytes = MAX_PATH;  // 260, terminator included
const bool platform_slash_help = true;

void platform_init_process() {
    // A prefix on an empty removable drive must fail the open with an error
    // the thread can report, not stop the run with a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::string platform_error_text(int error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0,
                                  nullptr);
    if (length == 0 || !text) {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "system error %d", error);
        return fallback;
    }
    std::string message(text, length);
    LocalFree(text);
    // The system's texts end in a full stop and CR LF; ours continue after
    // the reason ("...; use mode B"), so drop both.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (!message.empty() && message.back() == '.') message.pop_back();
    return message;
}

// The system's answer to an unbuffered write whose size or offset is not a
// whole number of sectors.
bool platform_is_unbuffered_refusal(int error) { return error == ERROR_INVALID_PARAMETER; }

bool platform_is_missing_folder(int error) { return error == ERROR_PATH_NOT_FOUND; }

bool platform_is_missing_file(int error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// CreateFile refuses a folder with "access denied"; the files' own
// functions below put this code in its place.
bool platform_is_folder(int error) { return error == ERROR_DIRECTORY; }

// The code to report for a failed CreateFile of name: ERROR_DIRECTORY
// where name is a folder, else the system's own.
static int open_error_code(const char* name) {
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
    return static_cast<int>(code);
}


// The guard of shared folders (ForeignEntry) has nothing to do here: NTFS
// has no sticky folders, where anyone may add a name but only its owner
// take it away, and creating a symbolic link needs a privilege that plain
// users lack. Access lists decide who may replace a file; foreign stays none.
FileHandle file_create(const char* name, bool buffered, int* error, ForeignEntry*) {
    const DWORD flags = buffered ? FILE_ATTRIBUTE_NORMAL : (FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = open_error_code(name);
        return invalid_file;
    }
    return reinterpret_cast<FileHandle>(file);
}

bool file_write(FileHandle file, const void* data, size_t bytes, size_t* written, int* error) {
    DWORD count = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(file), data, static_cast<DWORD>(bytes), &count, nullptr)) {
        *written = 0;
        *error = static_cast<int>(GetLastError());
        return false;
    }
    *written = count;
    *error = 0;
    return true;
}

// Bytes per sector of the volume that holds file, from its root folder.
static uint32_t volume_sector_bytes(HANDLE file) {
    char path[MAX_PATH + 8];
    DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof path) return 0;
    char root[MAX_PATH + 8];
    if (!GetVolumePathNameA(path, root, sizeof root)) return 0;
    DWORD sectors_per_cluster = 0, sector_bytes = 0, free_clusters = 0, total_clusters = 0;
    if (!GetDiskFreeSpaceA(root, &sectors_per_cluster, &sector_bytes, &free_clusters, &total_clusters)) return 0;
    return sector_bytes;
}

uint32_t file_unbuffered_alignment_bytes(FileHandle file) {
    HANDLE handle = reinterpret_cast<HANDLE>(file);
    // Windows 8 and later report the device's logical sector size per file.
    FILE_STORAGE_INFO storage{};
    if (GetFileInformationByHandleEx(handle, FileStorageInfo, &storage, sizeof storage) &&
        storage.LogicalBytesPerSector != 0)
        return storage.LogicalBytesPerSector;
    return volume_sector_bytes(handle);
}

bool file_sync(FileHandle file, int* error) {
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(file))) return true;
    *error = static_cast<int>(GetLastError());
    return false;
}

void file_close(FileHandle file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

FileHandle file_open_read(const char* name, bool buffered, int* error, ForeignEntry*) {
    const DWORD flags = buffered ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_FLAG_NO_BUFFERING;
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              flags | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = open_error_code(name);
        return invalid_file;
    }
    return reinterpret_cast<FileHandle>(file);
}

bool file_read_at(FileHandle file, void* data, size_t bytes, uint64_t offset, size_t* got, int* error) {
    // On a handle opened for synchronous use the offset comes with the call.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD count = 0;
    *got = 0;
    *error = 0;
    if (ReadFile(reinterpret_cast<HANDLE>(file), data, static_cast<DWORD>(bytes), &count, &at)) {
        *got = count;
        return true;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_HANDLE_EOF) return true;  // at or past the end: nothing read
    *error = static_cast<int>(code);
    return false;
}

bool file_size_bytes(FileHandle file, uint64_t* bytes, int* error) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(file), &size)) {
        *error = static_cast<int>(GetLastError());
        return false;
    }
    *bytes = static_cast<uint64_t>(size.QuadPart);
    return true;
}

bool file_next_hole(FileHandle file, uint64_t from_bytes, uint64_t end_bytes, ByteRange* hole) {
    HANDLE handle = reinterpret_cast<HANDLE>(file);
    // Only a sparse file has holes, and only where the file system keeps
    // sparse files (NTFS, ReFS); FAT and exFAT files have none.
    DWORD volume_flags = 0;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &volume_flags, nullptr, 0) ||
        !(volume_flags & FILE_SUPPORTS_SPARSE_FILES) || !GetFileInformationByHandle(handle, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE))
        return false;
    // The ranges that hold data, from from_bytes on; the first gap is the hole.
    uint64_t at = from_bytes;
    while (at < end_bytes) {
        FILE_ALLOCATED_RANGE_BUFFER query{}, ranges[32];
        query.FileOffset.QuadPart = static_cast<LONGLONG>(at);
        query.Length.QuadPart = static_cast<LONGLONG>(end_bytes - at);
        DWORD got = 0;
        const bool all = DeviceIoControl(handle, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, ranges,
                                         sizeof ranges, &got, nullptr);
        if (!all && GetLastError() != ERROR_MORE_DATA) return false;
        const DWORD count = got / sizeof ranges[0];
        if (!all && count == 0) return false;
        for (DWORD i = 0; i < count; ++i) {
            const auto start = static_cast<uint64_t>(ranges[i].FileOffset.QuadPart);
            if (start > at) {
                *hole = ByteRange{at, start < end_bytes ? start : end_bytes};
                return true;
            }
            const uint64_t end = start + static_cast<uint64_t>(ranges[i].Length.QuadPart);
            if (end > at) at = end;
        }
        if (all) break;
    }
    if (at >= end_bytes) return false;
    *hole = ByteRange{at, end_bytes};
    return true;
}

bool file_drop_cached_pages(const char* name, int* error) {
    // Opening a file without buffering makes the file system write out and
    // purge the file's cached pages (where no other handle maps them).
    int open_error = 0;
    FileHandle file = file_open_read(name, false, &open_error, nullptr);
    if (file == invalid_file) {
        *error = open_error;
        return false;
    }
    file_close(file);
    return true;
}

// kernel32 has no way to ask which pages of a file stay cached.
CacheResidency file_cache_residency(const char*) { return CacheResidency::unknown; }

// Windows has RAM disks only as third-party drivers; none can be told apart.
bool folder_is_memory_backed(const char*) { return false; }

namespace {

// The serial number of the volume that holds path (a file or a folder).
bool volume_serial(const char* path, DWORD* serial) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    if (known) *serial = information.dwVolumeSerialNumber;
    return known;
}

}  // namespace

bool same_file_system(const char* path_a, const char* path_b) {
    DWORD a = 0, b = 0;
    return volume_serial(path_a, &a) && volume_serial(path_b, &b) && a == b;
}

// NTFS compresses the files of a folder marked for it ("Compress contents",
// compact /c); new files inherit the mark.
FolderCompression folder_compression(const char* folder) {
    const DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_COMPRESSED))
        return {};
    return {CompressionKind::folder_marked, "NTFS", ""};
}

void* pages_alloc(size_t bytes, int* error) {
    void* pages = VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    if (!pages) *error = static_cast<int>(GetLastError());
    return pages;
}

void pages_free(void* pages, size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

uint64_t available_memory_bytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    // A 32-bit process can hold no more than its own free address space.
    return status.ullAvailPhys < status.ullAvailVirtual ? status.ullAvailPhys : status.ullAvailVirtual;
}

namespace {

// Reserved, not committed: the writer needs little beyond a file name and
// one formatted print, and 99 threads must fit a 32-bit address space.
constexpr DWORD thread_stack_bytes = 256 * 1024;

struct ThreadStart {
    ThreadRoutine routine;
    void* arg;
};

DWORD WINAPI thread_trampoline(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.routine(start.arg);
    return 0;
}

}  // namespace

bool thread_start(ThreadRoutine routine, void* arg, ThreadHandle* thread, int* error) {
    auto* start = new (std::nothrow) ThreadStart{routine, arg};
    if (!start) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    HANDLE handle =
        CreateThread(nullptr, thread_stack_bytes, thread_trampoline, start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!handle) {
        *error = static_cast<int>(GetLastError());
        delete start;
        return false;
    }
    thread->value = reinterpret_cast<uintptr_t>(handle);
    return true;
}

void thread_join(ThreadHandle thread) {
    HANDLE handle = reinterpret_cast<HANDLE>(thread.value);
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
}

uint64_t tick_ms() { return GetTickCount64(); }

void sleep_ms(uint32_t ms) { Sleep(ms); }

struct DoneSignal {
    HANDLE event;  // manual reset: once set it stays set
};

DoneSignal* signal_create() {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) {
        std::fprintf(stderr, "vorlax: cannot create an event: %s\n",
                     platform_error_text(static_cast<int>(GetLastError())).c_str());
        std::exit(1);
    }
    return new DoneSignal{event};
}

void signal_set(DoneSignal* signal) { SetEvent(signal->event); }

bool signal_wait_ms(DoneSignal* signal, uint32_t timeout_ms) {
    return WaitForSingleObject(signal->event, timeout_ms) == WAIT_OBJECT_0;
}

void signal_destroy(DoneSignal* signal) {
    CloseHandle(signal->event);
    delete signal;
}
