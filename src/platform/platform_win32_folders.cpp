// Win32 implementation of the folder probes: which volume holds a path, and
// what the file system there does with what is written (compresses it).
#include "platform/platform_win32_internal.h"

#include <windows.h>

// Windows has RAM disks only as third-party drivers; none can be told apart.
bool folder_is_memory_backed(const char*) { return false; }

// No memory cgroups here: what the system could hand out.
uint64_t memory_for_files_bytes() { return available_memory_bytes(); }
uint64_t folder_free_bytes(const char*) { return 0; }

namespace {

// The serial number of the volume that holds path (a file or a folder).
bool volume_serial(const char* path, DWORD* serial) {
    HANDLE handle = CreateFileW(wide_text(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    if (known) *serial = information.dwVolumeSerialNumber;
    return known;
}

}  // namespace

bool path_is_folder(const char* path) {
    const DWORD attributes = GetFileAttributesW(wide_text(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool same_file_system(const char* path_a, const char* path_b) {
    DWORD a = 0, b = 0;
    return volume_serial(path_a, &a) && volume_serial(path_b, &b) && a == b;
}

// NTFS compresses the files of a folder marked for it ("Compress contents",
// compact /c); new files inherit the mark.
FolderCompression folder_compression(const char* folder) {
    const DWORD attributes = GetFileAttributesW(wide_text(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_COMPRESSED))
        return {};
    return {CompressionKind::folder_marked, "NTFS", ""};
}
