#include "progress/format_text.h"

#include <cstdarg>
#include <cstdio>

std::string format_text(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}
