// Win32 implementation of the platform layer: reading test files back, and
// the file cache around them.
#include "platform/platform_win32_internal.h"

#include <windows.h>

FileHandle file_open_read(const char* name, bool buffered, int* error, ForeignEntry*) {
    const DWORD flags = buffered ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_FLAG_NO_BUFFERING;
    HANDLE file = CreateFileW(wide_text(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
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
