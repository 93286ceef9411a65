// Win32 implementation of the process's own services: its arguments, its
// stdout and stderr lines and the console events that ask a run to stop,
// and the conversions between the program's UTF-8 and the system's UTF-16.
#include <windows.h>

#include "platform/platform_win32_internal.h"

// The C runtime's own splitting of the UTF-16 command line (msvcrt.dll has
// it in every Windows), the same rules as the narrow argv it gives main.
struct VorlaxStartupInfo {
    int new_mode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expand_wildcards,
                                      VorlaxStartupInfo* startup);

std::wstring wide_text(const char* utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

std::string utf8_text(const wchar_t* wide, size_t length) {
    if (length == 0) return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &utf8[0], bytes, nullptr, nullptr);
    return utf8;
}

std::vector<std::string> platform_arguments(int argc, const char* const* argv) {
    int wide_argc = 0;
    wchar_t** wide_argv = nullptr;
    wchar_t** environment = nullptr;
    VorlaxStartupInfo startup{0};
    if (__wgetmainargs(&wide_argc, &wide_argv, &environment, 0, &startup) < 0 || !wide_argv || wide_argc != argc)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < wide_argc; ++i) arguments.push_back(utf8_text(wide_argv[i], wcslen(wide_argv[i])));
    return arguments;
}

namespace {

// Held around each write to stdout or stderr (one lock for both, as they
// may be one console or file): a console shows each line whole.
SRWLOCK output_lock = SRWLOCK_INIT;

void write_whole(DWORD which, const std::string& text) {
    HANDLE handle = GetStdHandle(which);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
    DWORD mode = 0;
    DWORD count = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = wide_text(text.c_str());
        AcquireSRWLockExclusive(&output_lock);
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &count, nullptr);
        ReleaseSRWLockExclusive(&output_lock);
        return;
    }
    std::string bytes;
    bytes.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    const char* data = bytes.data();
    size_t left = bytes.size();
    AcquireSRWLockExclusive(&output_lock);
    while (left > 0 && WriteFile(handle, data, static_cast<DWORD>(left), &count, nullptr) && count > 0) {
        data += count;
        left -= count;
    }
    ReleaseSRWLockExclusive(&output_lock);
}

}  // namespace

void platform_write_stderr(const std::string& text) { write_whole(STD_ERROR_HANDLE, text); }

void platform_write_stdout(const std::string& text) { write_whole(STD_OUTPUT_HANDLE, text); }

namespace {

void (*volatile stop_callback)(StopReason) = nullptr;
volatile bool keep_watching_stops = false;
volatile LONG console_stops = 0;

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // Before the run watches, nothing is to be saved; a second Ctrl-C must
    // not wait for a writer stuck in a write (unless the run keeps
    // watching). Both end the process at once with the status of a stop:
    // the default handler would give 0 under Wine.
    if (!stop_callback || (InterlockedIncrement(&console_stops) > 1 && !keep_watching_stops))
        TerminateProcess(GetCurrentProcess(), 130);
    stop_callback(StopReason::interrupt);
    return TRUE;
}

}  // namespace

void platform_console_stops_end_process() { SetConsoleCtrlHandler(on_console_event, TRUE); }

// The handler stays from platform_init_process on; from now on a Ctrl-C
// stops the run. A process started with Ctrl-C ignored (start /b) keeps
// ignoring it; Ctrl-Break still reaches the handler.
void watch_stop_requests(void (*on_request)(StopReason reason), bool keep_watching) {
    keep_watching_stops = keep_watching;
    stop_callback = on_request;
}
