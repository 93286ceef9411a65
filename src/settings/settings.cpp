#include "settings/settings.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "test_file/test_file.h"

const char* const usage_text = "Usage: VORLAX <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n";

std::string forbidden_prefix_chars(const char* prefix) {
    std::string found;
    const char* text = prefix;
    if (*platform_name_forbidden_chars && std::strncmp(text, "\\\\?\\", 4) == 0) text += 4;
    const char* drive_colon = text[0] && text[1] == ':' ? text + 1 : nullptr;
    for (; *text; ++text)
        if (std::strchr(platform_name_forbidden_chars, *text) && text != drive_colon &&
            found.find(*text) == std::string::npos)
            found += *text;
    return found;
}

const NumberArgument number_arguments[3] = {
    {"max-buf-KB", 32768, 64, &RunSettings::buffer_kb},
    {"max-threads", 99, 1, &RunSettings::thread_count},
    {"max-GB", 63, 4, &RunSettings::max_gb},
};

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool argument_count_fits(int argc) { return argc >= 2 && argc <= 6; }

char mode_letter(const char* text) {
    if (text[0] == 'b' || text[0] == 'B') return 'B';
    if (text[0] == 'u' || text[0] == 'U') return 'U';
    return '\0';
}

DecimalText scan_decimal(const char* text) {
    DecimalText scan;
    while (is_blank(*text)) ++text;
    if (*text == '+' || *text == '-') scan.negative = *text++ == '-';
    scan.rest = text;
    if (*text < '0' || *text > '9') return scan;
    scan.found = true;
    uint32_t number = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const uint32_t digit = static_cast<uint32_t>(*text - '0');
        if (number > (UINT32_MAX - digit) / 10u) scan.wrapped = true;
        number = number * 10u + digit;
    }
    scan.value = scan.negative ? 0u - number : number;
    scan.exact = number;
    scan.rest = text;
    return scan;
}

bool read_decimal(const char* text, uint32_t* value) {
    const DecimalText scan = scan_decimal(text);
    if (scan.found) *value = scan.value;
    return scan.found;
}

bool number_in_range(const NumberArgument& argument, uint32_t number) {
    return number != 0 && number <= argument.max_value;
}

void read_number_argument(const NumberArgument& argument, const char* text, RunSettings* settings) {
    uint32_t number;
    if (!read_decimal(text, &number)) return;
    settings->*argument.field = number_in_range(argument, number) ? number : argument.fallback;
}

ParseOutcome parse_settings(int argc, const char* const* argv, RunSettings* settings, bool writing) {
    *settings = RunSettings{};
    settings->path_prefix = platform_default_prefix;
    int position = 1;
    while (position < argc && looks_like_option(argv[position])) {
        const CommandOption* option = find_command_option(argv[position], writing);
        if (!option) return ParseOutcome::unknown_option;
        if (option->outcome != ParseOutcome::run) return option->outcome;
        const char* value = nullptr;
        if (option->takes_value) {
            value = std::strchr(argv[position], '=');
            if (value) ++value;
            else if (++position < argc) value = argv[position];
            else return ParseOutcome::bad_option_value;
        }
        if (!option->set(value, settings)) return ParseOutcome::bad_option_value;
        ++position;
    }
    // The options read, the rest is read as a command line of its own.
    argc -= position - 1;
    argv += position - 1;
    if (argc < 2) return ParseOutcome::usage;
    if (!argument_count_fits(argc)) return ParseOutcome::too_many_arguments;

    settings->buffered = mode_letter(argv[1]) == 'B';
    if (argc > 2) settings->path_prefix = argv[2];
    for (int slot = 3; slot < argc; ++slot) read_number_argument(number_arguments[slot - 3], argv[slot], settings);
    if (argc > 2 && looks_like_option(argv[2]) && find_command_option(argv[2], writing))
        return ParseOutcome::option_as_prefix;
    const std::string forbidden = forbidden_prefix_chars(settings->path_prefix.c_str());
    if (forbidden.find('"') != std::string::npos) return ParseOutcome::quote_in_prefix;
    if (!forbidden.empty()) return ParseOutcome::forbidden_in_prefix;
    if (!prefix_length_detail(settings->path_prefix.c_str()).empty()) return ParseOutcome::prefix_too_long;
    return ParseOutcome::run;
}
