#include "settings/settings.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

const char* const usage_text = "Usage: VORLAX <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n";

namespace {

// The blanks that "%d" skips in the C locale.
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Stores the number read from text in *value: the number itself when it is
// 1..max_value, fallback when it is out of range; nothing without digits.
void read_in_range(const char* text, uint32_t max_value, uint32_t fallback, uint32_t* value) {
    uint32_t number;
    if (!read_decimal(text, &number)) return;
    *value = (number == 0 || number > max_value) ? fallback : number;
}

bool is_help_request(const char* arg) {
    return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0 ||
           (platform_slash_help && std::strcmp(arg, "/?") == 0);
}

// prefix + "_NN.BIN" + terminator must fit the system's name limit.
bool prefix_fits(const char* prefix) {
    return std::strlen(prefix) + sizeof "_00.BIN" <= platform_max_path_bytes;
}

}  // namespace

bool read_decimal(const char* text, uint32_t* value) {
    while (is_blank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    if (*text < '0' || *text > '9') return false;
    uint32_t number = 0;
    for (; *text >= '0' && *text <= '9'; ++text) number = number * 10u + static_cast<uint32_t>(*text - '0');
    *value = negative ? 0u - number : number;
    return true;
}

ParseOutcome parse_settings(int argc, const char* const* argv, RunSettings* settings) {
    *settings = RunSettings{};
    settings->path_prefix = platform_default_prefix;
    if (argc < 2 || argc > 6) return ParseOutcome::usage;
    if (argc == 2 && is_help_request(argv[1])) return ParseOutcome::help;
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return ParseOutcome::version;

    settings->buffered = argv[1][0] == 'b' || argv[1][0] == 'B';
    if (argc > 2) settings->path_prefix = argv[2];
    if (argc > 3) read_in_range(argv[3], 32768, 64, &settings->buffer_kb);
    if (argc > 4) read_in_range(argv[4], 99, 1, &settings->thread_count);
    if (argc > 5) read_in_range(argv[5], 63, 4, &settings->max_gb);
    if (!prefix_fits(settings->path_prefix)) return ParseOutcome::prefix_too_long;
    return ParseOutcome::run;
}

std::string format_banner(const RunSettings& settings, const char* activity) {
    char line[160];
    std::snprintf(line, sizeof line, "VORLAX: %s %s %uK buffers in %u threads up to %u GB each\n", activity,
                  settings.buffered ? "buffered" : "unbuffered", settings.buffer_kb, settings.thread_count,
                  settings.max_gb);
    return line;
}

void print_banner(const RunSettings& settings, const char* activity) {
    std::fputs(format_banner(settings, activity).c_str(), stdout);
    std::fflush(stdout);
}
