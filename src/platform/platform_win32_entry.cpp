// Win32 implementation of the platform layer: what a name given for the run
// record is, whether two names are one file, and the open of a device (NUL,
// CON) or pipe as it is. Windows has no sticky folders: nothing is foreign,
// and a link is replaced as the rename makes it.
#include "platform/platform_win32_internal.h"

#include <windows.h>

namespace {

// name opened for no access but a look, or INVALID_HANDLE_VALUE.
HANDLE open_to_look(const char* name) {
    return CreateFileW(wide_text(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The name's full path, in upper case: the system compares names so.
std::wstring full_name(const char* name) {
    wchar_t full[MAX_PATH + 8];
    const DWORD length = GetFullPathNameW(wide_text(name).c_str(), MAX_PATH + 8, full, nullptr);
    if (length == 0 || length >= MAX_PATH + 8) return std::wstring();
    // LCMapStringW (kernel32), not CharUpperBuffW (user32): the programs import kernel32 and msvcrt only.
    wchar_t upper[MAX_PATH + 8];
    const int mapped = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, full, static_cast<int>(length), upper, MAX_PATH + 8);
    return mapped > 0 ? std::wstring(upper, static_cast<size_t>(mapped)) : std::wstring(full, length);
}

}  // namespace

EntryFacts entry_facts(const char* name) {
    EntryFacts facts;
    facts.target = name;
    HANDLE file = open_to_look(name);
    if (file == INVALID_HANDLE_VALUE) return facts;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file) != FILE_TYPE_DISK)
        facts.kind = EntryKind::stream;
    else if (GetFileInformationByHandle(file, &info))
        facts.kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? EntryKind::folder : EntryKind::file;
    CloseHandle(file);
    return facts;
}

bool names_one_file(const char* a, const char* b) {
    HANDLE file_a = open_to_look(a), file_b = open_to_look(b);
    BY_HANDLE_FILE_INFORMATION info_a, info_b;
    const bool both = file_a != INVALID_HANDLE_VALUE && file_b != INVALID_HANDLE_VALUE &&
                      GetFileInformationByHandle(file_a, &info_a) && GetFileInformationByHandle(file_b, &info_b);
    if (file_a != INVALID_HANDLE_VALUE) CloseHandle(file_a);
    if (file_b != INVALID_HANDLE_VALUE) CloseHandle(file_b);
    if (both)
        return info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber &&
               info_a.nFileIndexHigh == info_b.nFileIndexHigh && info_a.nFileIndexLow == info_b.nFileIndexLow;
    const std::wstring full = full_name(a);
    return !full.empty() && full == full_name(b);
}

FileHandle file_open_stream(const char* name, int* error) {
    HANDLE file = CreateFileW(wide_text(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = static_cast<int>(GetLastError());
        return invalid_file;
    }
    return reinterpret_cast<FileHandle>(file);
}

bool platform_is_unread(int error) { return error == ERROR_PIPE_BUSY || error == ERROR_NO_DATA; }
