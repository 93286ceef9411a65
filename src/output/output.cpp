#include "output/output.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

std::string format_text(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string count_words(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string thousandths_text(uint64_t value, int width) {
    return format_text("%*" PRIu64 ".%03u", width, value / 1000u, static_cast<unsigned>(value % 1000u));
}

std::string banner_words(const RunSettings& settings, const char* activity) {
    return format_text("VORLAX: %s %s %uK buffers in %u threads up to %u GB each", activity,
                       settings.buffered ? "buffered" : "unbuffered", settings.buffer_kb, settings.thread_count,
                       settings.max_gb);
}

std::string format_banner(const RunSettings& settings, const char* activity) {
    return banner_words(settings, activity) + "\n";
}

void print_banner(const RunSettings& settings, const char* activity) {
    print_stdout_line(format_banner(settings, activity));
}

void print_stdout_line(const std::string& line) { platform_write_stdout(line); }

namespace {

std::string notes_printed;  // only the thread that starts the run prints notes

}  // namespace

void print_stderr_line(const std::string& line) {
    platform_write_stderr(line);
    if (line.find(": note: ") != std::string::npos) notes_printed += line;
}

void print_stderr_lines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) print_stderr_line(line);
}

std::string printed_notes() { return notes_printed; }

void print_thread_done(uint32_t thread_index, int64_t blocks) {
    print_stdout_line(format_text("thread %u done! %" PRId64 "\n", thread_index, blocks));
}
