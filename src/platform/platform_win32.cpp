// Win32 implementation of the platform layer: process setup, errors,
// writing files, memory, threads, time and the one-shot signal. kernel32
// services only, so the program runs on a bare Windows (Vista or later).
// The folder probes are in platform_win32_folders.cpp, the reading side in
// platform_win32_read.cpp.
#include "platform/platform_win32_internal.h"

#include <windows.h>

#include <cstdio>
#include <new>

const char* const platform_default_prefix = ".\\";
const size_t platform_max_path_bytes = MAX_PATH;  // 260, terminator included
const char* const platform_name_forbidden_chars = "<>:\"|?*";
const char* const platform_short_write_causes = "the disk may be full";

NameLengthLimit platform_name_length_limit(const std::string& name) {
    const std::wstring wide = wide_text(name.c_str());
    const size_t separator = wide.find_last_of(L"\\/");
    const size_t last = separator == std::wstring::npos ? wide.size() : wide.size() - separator - 1;
    if (last > 255) return {"one name", last, 255};
    // CreateFileW takes MAX_PATH - 1 characters of the full path it makes
    // of a relative one (the current folder before it), unless \\?\ leads.
    if (wide.compare(0, 4, L"\\\\?\\") == 0) return {};
    const DWORD full = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    const size_t length = full > 0 ? full - 1 : wide.size();
    if (length >= MAX_PATH) return {"a whole path", length, MAX_PATH - 1};
    return {};
}
const char* const platform_device_log = "Event Viewer (Windows Logs, System)";
const PlatformHelpWords platform_help_words = {"E:\\bench\\run", "\\", "del", "no buffering",
                                               "README.md and docs\\windows.md in the .zip", "/?",
                                               ";\n               in quotes end it with / (\"E:\\my bench/\")"};

void platform_init_process() {
    // First of all: a Ctrl-C from the first moment gives 130, not 0.
    platform_console_stops_end_process();
    // A prefix on an empty removable drive must fail the open with an error
    // the thread can report, not stop the run with a dialog box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::string platform_error_text(int error) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0,
                                  nullptr);
    if (length == 0 || !text) {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "system error %d", error);
        return fallback;
    }
    std::string message = utf8_text(text, length);
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

bool platform_is_read_only_volume(int error) { return error == ERROR_WRITE_PROTECT; }

bool platform_is_missing_file(int error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// CreateFile refuses a folder with "access denied"; the files' own
// functions below put this code in its place.
bool platform_is_folder(int error) { return error == ERROR_DIRECTORY; }

const char* platform_not_a_file_kind(int error) { return platform_is_folder(error) ? "a folder" : nullptr; }

bool platform_is_out_of_space(int error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == ERROR_FILE_TOO_LARGE ||
           error == ERROR_NOT_ENOUGH_QUOTA;
}

std::string platform_missing_drive(const char* path) {
    const char letter = path[0];
    if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) || path[1] != ':') return {};
    const char root[] = {letter, ':', '\\', '\0'};
    if (GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR) return {};
    return std::string(root, 2);
}

int open_error_code(const char* name) {
    const DWORD code = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide_text(name).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
    return static_cast<int>(code);
}

// The guard of shared folders (ForeignEntry) has nothing to do here: NTFS
// has no sticky folders, where anyone may add a name but only its owner
// take it away, and creating a symbolic link needs a privilege that plain
// users lack. Access lists decide who may replace a file; foreign stays none.
FileHandle file_create(const char* name, bool buffered, int* error, ForeignEntry*) {
    const DWORD flags = buffered ? FILE_ATTRIBUTE_NORMAL : (FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL);
    HANDLE file = CreateFileW(wide_text(name).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, flags, nullptr);
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
    // The system's file cache and files in memory lie outside this process's
    // address space, so a 32-bit process's own 2 or 4 GB does not bound them.
    return status.ullAvailPhys;
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

uint64_t tick_ns() {
    static const uint64_t per_second = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<uint64_t>(frequency.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t counts = static_cast<uint64_t>(now.QuadPart);
    return counts / per_second * 1000000000u + counts % per_second * 1000000000u / per_second;
}

BlockClockScale block_clock_start() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const uint64_t ns = tick_ns();
    // 10^9 * 2^32 / counts per second: a double's 53 bits are ample.
    const double ns_per_tick_q32 = 1e9 * 4294967296.0 / static_cast<double>(frequency.QuadPart);
    return BlockClockScale{static_cast<uint64_t>(now.QuadPart), ns, static_cast<uint64_t>(ns_per_tick_q32)};
}

uint64_t block_clock_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart);
}

void sleep_ms(uint32_t ms) { Sleep(ms); }

// As on Linux: a flag behind a lock, and a condition to wait on for it.
// Neither a slim lock nor a condition variable can fail to be made, so
// signal_create has no failure to report.
struct DoneSignal {
    SRWLOCK lock;
    CONDITION_VARIABLE changed;
    bool set;
};

DoneSignal* signal_create() {
    auto* signal = new DoneSignal;
    InitializeSRWLock(&signal->lock);
    InitializeConditionVariable(&signal->changed);
    signal->set = false;
    return signal;
}

void signal_set(DoneSignal* signal) {
    AcquireSRWLockExclusive(&signal->lock);
    signal->set = true;
    WakeAllConditionVariable(&signal->changed);
    ReleaseSRWLockExclusive(&signal->lock);
}

bool signal_wait_ms(DoneSignal* signal, uint32_t timeout_ms) {
    // The condition may wake early or for nothing: wait again for what is
    // left until the deadline.
    const uint64_t deadline_ms = GetTickCount64() + timeout_ms;
    AcquireSRWLockExclusive(&signal->lock);
    while (!signal->set) {
        const uint64_t now_ms = GetTickCount64();
        if (now_ms >= deadline_ms) break;
        SleepConditionVariableSRW(&signal->changed, &signal->lock, static_cast<DWORD>(deadline_ms - now_ms), 0);
    }
    const bool set = signal->set;
    ReleaseSRWLockExclusive(&signal->lock);
    return set;
}

void signal_destroy(DoneSignal* signal) { delete signal; }
