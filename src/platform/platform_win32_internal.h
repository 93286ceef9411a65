// What the Win32 implementation files share among themselves. Only this
// folder includes this header; the rest of the program uses platform.h.
#pragma once

#include "platform/platform.h"

// The code to report for a failed CreateFile of name, called right after
// it: ERROR_DIRECTORY where name is a folder, else the system's own
// (GetLastError). file_create and file_open_read give it.
int open_error_code(const char* name);

// UTF-8 text as UTF-16 for the W functions; "" for text that is not UTF-8.
std::wstring wide_text(const char* utf8);
// length UTF-16 units of wide as UTF-8.
std::string utf8_text(const wchar_t* wide, size_t length);

// Installs the console handler that ends the process with 130 at a Ctrl-C
// or Ctrl-Break, until watch_stop_requests makes the first one stop the run.
void platform_console_stops_end_process();
