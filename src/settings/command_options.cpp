// The options taken before the positional arguments, in the one table that
// the parser reads them with and --help lists, and the lines that say why
// a command line cannot be run.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "settings/settings.h"
#include "test_file/test_file.h"

std::string quoted(const char* text) {
    std::string out = "\"";
    size_t length = std::strlen(text);
    for (size_t i = 0; i < length && i < quoted_bytes; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (length > quoted_bytes) out += "...";
    return out + "\"";
}

namespace {

// --seconds S: a whole number of seconds, 1 to max_seconds, and nothing after it.
bool set_seconds(const char* value, RunSettings* settings) {
    const DecimalText scan = scan_decimal(value);
    if (!scan.found || scan.negative || scan.wrapped || *scan.rest != '\0' || scan.exact < 1 ||
        scan.exact > max_seconds)
        return false;
    settings->seconds = scan.exact;
    return true;
}

bool set_latency(const char*, RunSettings* settings) {
    settings->latency = true;
    return true;
}

bool set_json(const char* path, RunSettings* settings) {
    settings->json_path = path;
    return *path != '\0';
}

// A whole number of ms from 1 to an hour, and nothing after it.
bool set_stall_ms(const char* text, RunSettings* settings) {
    const DecimalText scan = scan_decimal(text);
    if (!scan.found || scan.negative || scan.wrapped || *scan.rest || scan.exact == 0 || scan.exact > 3600000)
        return false;
    settings->stall_ms = scan.exact;
    return true;
}

}  // namespace

const CommandOption command_options[] = {
    {{"-h", "--help", "-?", "/?", "/h", "/help", "-help"}, false, ParseOutcome::help, nullptr, "-h, --help",
     "show this help and exit; -?, /?, /h, /help and -help too"},
    {{"--version", "-v", "-V", "/v"}, false, ParseOutcome::version, nullptr, "--version",
     "show the version and exit; -v, -V and /V too"},
    {{"--seconds"}, true, ParseOutcome::run, set_seconds, "--seconds S",
     "write for S seconds: each thread stops at its first block\n"
     "               boundary after S; max-GB stays the upper bound",
     "a whole number of seconds, 1 to 1000000", true},
    {{"--latency"}, false, ParseOutcome::run, set_latency, "--latency",
     "time every block; print its percentiles and stalls before DONE!"},
    {{"--json"}, true, ParseOutcome::run, set_json, "--json FILE",
     "write a record of the run to FILE as JSON (--json=FILE too)", "a file name"},
    {{"--stall-ms"}, true, ParseOutcome::run, set_stall_ms, "--stall-ms N",
     "a block of N ms or more is a stall (1 to 3600000, default 100)", "a whole number of ms, 1 to 3600000"},
};
const size_t command_option_count = sizeof command_options / sizeof command_options[0];

namespace {

// Where a row's descriptions start, as in the rows of the numbers.
constexpr size_t option_column = 15;

// True when text is name, or name followed by "=" and a value where
// with_value; names that start with / match in any case.
bool names_option(const char* text, const char* name, bool with_value) {
    const bool any_case = name[0] == '/';
    size_t i = 0;
    for (; name[i] != '\0'; ++i) {
        char a = text[i], b = name[i];
        if (any_case && a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != b) return false;
    }
    return text[i] == '\0' || (with_value && text[i] == '=');
}

}  // namespace

bool looks_like_option(const char* text) { return text[0] == '-' || text[0] == '/'; }

const CommandOption* find_command_option(const char* text, bool writing) {
    for (size_t row = 0; row < command_option_count; ++row)
        for (const char* name : command_options[row].names)
            if (name && (writing || !command_options[row].writers_only) &&
                names_option(text, name, command_options[row].takes_value))
                return &command_options[row];
    return nullptr;
}

int first_positional_index(int argc, const char* const* argv, bool writing) {
    int position = 1;
    while (position < argc && looks_like_option(argv[position])) {
        const CommandOption* option = find_command_option(argv[position], writing);
        if (!option) break;
        if (option->takes_value && !std::strchr(argv[position], '=')) ++position;
        ++position;
    }
    return position;
}

std::string format_option_rows(bool writing) {
    std::string rows;
    for (size_t row = 0; row < command_option_count; ++row) {
        if (!writing && command_options[row].writers_only) continue;
        std::string head = std::string("  ") + command_options[row].shown;
        head.append(head.size() < option_column ? option_column - head.size() : 1, ' ');
        rows += head + command_options[row].description + "\n";
    }
    return rows;
}

std::string prefix_too_long_line(const char* program, const std::string& detail) {
    return std::string(program) + ": path prefix too long" + detail + "; use a shorter path\n";
}

std::string prefix_length_detail(const char* prefix) {
    std::string name;
    if (!test_file_name(prefix, 0, SIZE_MAX, &name)) return std::string();
    const NameLengthLimit past = platform_name_length_limit(name);
    if (!past.what) return std::string();
    return ": " + quoted(prefix) + " gives test file names of " + std::to_string(past.length) +
           " characters, past this system's limit of " + std::to_string(past.limit) + " for " + past.what;
}

std::string command_line_refusal(const char* program, ParseOutcome outcome, int argc, const char* const* argv,
                                 bool writing) {
    const std::string head = std::string(program) + ": ";
    const int first = first_positional_index(argc, argv, writing);
    switch (outcome) {
        case ParseOutcome::bad_option_value:
            // The first option, in the parser's order, whose value it could not take.
            for (int position = 1; position < argc; ++position) {
                const CommandOption* option = find_command_option(argv[position], writing);
                if (!option) break;
                if (!option->takes_value) continue;
                const char* value = std::strchr(argv[position], '=');
                const bool joined = value != nullptr;
                value = joined ? value + 1 : position + 1 < argc ? argv[position + 1] : nullptr;
                RunSettings ignored;
                if (!value || !option->set(value, &ignored))
                    return head + option->names[0] + (value ? " " + quoted(value) : std::string(" without a value")) +
                           ": it takes " + option->value_wanted + "\n";
                if (!joined) ++position;
            }
            return std::string();
        case ParseOutcome::unknown_option:
            return head + "unknown option " + quoted(argv[first]) + ": the mode, B or U, comes first; " + program + " " +
                   platform_help_words.help_option + " shows the usage\n";
        case ParseOutcome::too_many_arguments:
            for (int position = first + 1; position < argc; ++position)
                if (looks_like_option(argv[position]) && find_command_option(argv[position], writing))
                    return head + "the option " + quoted(argv[position]) +
                           " comes after the mode: options go before the mode (B or U)\n";
            return head + std::to_string(argc - first) + " arguments, at most 5: quote a path that has spaces\n";
        case ParseOutcome::prefix_too_long:
            return prefix_too_long_line(program, prefix_length_detail(argv[first + 1]));
        case ParseOutcome::forbidden_in_prefix: {
            std::string shown;
            for (char c : forbidden_prefix_chars(argv[first + 1])) shown += std::string(shown.empty() ? "" : " ") + c;
            return head + "the path prefix " + quoted(argv[first + 1]) + " holds " + shown +
                   ", which no file name may hold here (nor any of " + platform_name_forbidden_chars +
                   "); choose a name without them\n";
        }
        case ParseOutcome::option_as_prefix: {
            // The mode by its letter and an option's value as "...": the arguments may hold anything, line breaks too.
            const std::string option = argv[first + 1];
            const size_t equals = option.find('=');
            const std::string shown = equals == std::string::npos ? option : option.substr(0, equals) + "=...";
            return head + quoted(argv[first + 1]) + " after the mode would be the path prefix: options go before the mode (" +
                   program + " " + shown + " " + (mode_letter(argv[first]) == 'B' ? "B" : "U") + " ...)\n";
        }
        case ParseOutcome::quote_in_prefix:
            return head + "the path prefix " + quoted(argv[first + 1]) +
                   " holds a \", which no file name may hold: the command line read \\\" as a quote mark, "
                   "so a path that ends in \\ before its closing quote took in what followed; drop that \\, "
                   "or double it (\"E:\\with space\\\\\")\n";
        default:
            return std::string();
    }
}
