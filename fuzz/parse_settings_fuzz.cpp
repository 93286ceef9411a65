// libFuzzer target for the command line: turns any input into an argument
// vector of 0 to 7 texts and checks what the parser makes of it.
//
// Input layout: the first byte picks the number of texts (mod 8); the rest
// is split at NUL bytes into those texts, missing ones left empty. Each text
// gets a heap block of its exact length plus terminator, so reading past an
// argument is caught by AddressSanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "notes/notes.h"
#include "output/output.h"
#include "settings/settings.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// What any reader of a decimal must find: digits accumulated modulo 2^32.
bool reference_decimal(const char* text, uint32_t* value) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = *text == '-';
    if (*text == '+' || *text == '-') ++text;
    if (*text < '0' || *text > '9') return false;
    uint64_t number = 0;
    for (; *text >= '0' && *text <= '9'; ++text) number = (number * 10 + static_cast<uint64_t>(*text - '0')) & 0xFFFFFFFFu;
    *value = static_cast<uint32_t>(negative ? (0x100000000u - number) & 0xFFFFFFFFu : number);
    return true;
}

void check_decimal(const char* text) {
    uint32_t value = 0x5A5A5A5A, expected = 0x5A5A5A5A;
    bool found = read_decimal(text, &value);
    require(found == reference_decimal(text, &expected), "read_decimal finds a number exactly when there are digits");
    require(value == expected, "read_decimal reads digits modulo 2^32 and leaves the value alone without any");
}

void check_settings(int argc, const char* const* argv) {
    RunSettings settings;
    ParseOutcome outcome = parse_settings(argc, argv, &settings);
    const bool leading_option = argc >= 2 && (argv[1][0] == '-' || argv[1][0] == '/');
    // The mode's place, after the leading options (--seconds S) and their values.
    const int first = first_positional_index(argc, argv);
    require(argc >= 2 || outcome == ParseOutcome::usage, "usage for no argument");
    require(outcome != ParseOutcome::usage || first >= argc, "usage only where no mode follows the options");
    require(outcome != ParseOutcome::too_many_arguments || argc - first > 5,
            "too many arguments only past five after the options");
    if (outcome == ParseOutcome::help || outcome == ParseOutcome::version || outcome == ParseOutcome::unknown_option ||
        outcome == ParseOutcome::bad_option_value)
        require(leading_option, "help, version and options only from an argument that starts like one");
    if (outcome != ParseOutcome::run) {
        const std::string refusal = command_line_refusal("vorlax", outcome, argc, argv);
        require(refusal.empty() || refusal.find('\n') == refusal.size() - 1, "a refusal is one whole line");
        return;
    }
    require(first < argc && argc - first <= 5 && !looks_like_option(argv[first]),
            "a run only from a mode and up to four more, after the options");
    require(settings.seconds <= max_seconds && (settings.seconds > 0 || first == 1), "seconds only from --seconds");

    require(settings.buffer_kb >= 1 && settings.buffer_kb <= 32768, "buffer_kb within 1..32768");
    require(settings.thread_count >= 1 && settings.thread_count <= 99, "thread_count within 1..99");
    require(settings.max_gb >= 1 && settings.max_gb <= 63, "max_gb within 1..63");
    require(settings.buffered == (argv[first][0] == 'b' || argv[first][0] == 'B'), "mode from the first character");
    if (argc > first + 1) require(settings.path_prefix == argv[first + 1], "prefix is the argument itself");

    std::string banner = format_banner(settings);
    char expected[200];
    std::snprintf(expected, sizeof expected, "VORLAX: writing %s %uK buffers in %u threads up to %u GB each\n",
                  settings.buffered ? "buffered" : "unbuffered", settings.buffer_kb, settings.thread_count,
                  settings.max_gb);
    require(banner == expected, "banner is one whole line with the settings");

    std::vector<std::string> notes = argument_notes(argc, argv, "vorlax", "writing");
    require(notes.size() <= static_cast<size_t>(argc - first), "at most one note per argument after the options");
    for (const std::string& note : notes) {
        require(note.rfind("vorlax: note: ", 0) == 0, "a note starts with its head");
        require(note.find('\n') == note.size() - 1, "a note is one whole line");
        require(note.size() < 300, "a note stays short whatever the argument");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t count = data[0] % 8;
    std::vector<char*> texts;
    size_t start = 1;
    for (size_t i = 0; i < count; ++i) {
        size_t end = start;
        while (end < size && data[end] != 0) ++end;
        size_t length = end > start ? end - start : 0;
        char* text = static_cast<char*>(std::malloc(length + 1));
        if (length) std::memcpy(text, data + start, length);
        text[length] = '\0';
        texts.push_back(text);
        start = end < size ? end + 1 : size;
    }

    std::vector<const char*> argv;
    static char program[] = "vorlax";
    argv.push_back(program);
    for (char* text : texts) argv.push_back(text);
    for (char* text : texts) check_decimal(text);
    check_settings(static_cast<int>(argv.size()), argv.data());

    for (char* text : texts) std::free(text);
    return 0;
}
