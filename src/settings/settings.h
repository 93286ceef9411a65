// The run's settings, read once from the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RunSettings {
    bool buffered = false;        // through the file cache (B) or bypassing it
    std::string path_prefix;      // the test files' names before their number
    uint32_t buffer_kb = 64;      // block size, 1 to 32768
    uint32_t thread_count = 1;    // writer threads, 1 to 99
    uint32_t max_gb = 1;          // file size per thread, 1 to 63
    uint32_t seconds = 0;         // --seconds: writers stop at a block boundary after it; 0: no time limit
    bool latency = false;         // --latency: the percentile and stall lines before DONE!
    const char* json_path = nullptr;  // --json FILE: the run record goes there
    uint32_t stall_ms = 100;      // --stall-ms N: a block this slow is a stall
};

// Whether the run times every block: with --latency or --json.
inline bool times_blocks(const RunSettings& settings) { return settings.latency || settings.json_path; }

// The longest time limit --seconds takes: about 11.5 days.
constexpr uint32_t max_seconds = 1000000;

// What the command line asks for.
enum class ParseOutcome {
    run,                 // settings filled; start the run
    usage,               // no argument at all: usage text, status 2
    help,                // -h, --help, /? and the other help forms: usage and help, status 0
    version,             // --version, -v, /V
    prefix_too_long,     // the test file names would pass the system's limit
    unknown_option,      // a leading argument that starts with - or / and is no option
    too_many_arguments,  // more than the five positional arguments
    quote_in_prefix,     // a " in the prefix, which no file name may hold here
    bad_option_value,    // an option's value is missing or not one it takes
    forbidden_in_prefix, // a character no file name may hold here (< > | ? * on Windows)
    option_as_prefix,    // the prefix is one of command_options' spellings: an option after the mode
};

// One option taken before the positional arguments. The parser reads the
// leading options from command_options, and --help lists them from it.
struct CommandOption {
    const char* names[8];  // its spellings, the rest null; "/" ones match in any case
    bool takes_value;      // "--name VALUE" or "--name=VALUE"
    ParseOutcome outcome;  // what asking for it gives: help, version, or run for a setting
    // Stores value (null when takes_value is false); returns false when the
    // value cannot be taken. Null for help and version.
    bool (*set)(const char* value, struct RunSettings* settings);
    const char* shown;        // how --help writes it: "-h, --help"
    const char* description;  // what --help says it does
    const char* value_wanted = nullptr;  // what its value must be, for the refusal of a wrong one
    bool writers_only = false;           // taken and listed by the programs that write, not by vorlax-read
};
extern const CommandOption command_options[];
extern const size_t command_option_count;

// True for an argument in first position that is an option, never a mode:
// one that starts with - or /.
bool looks_like_option(const char* text);

// The option of command_options that text names ("--name=value" names
// --name when it takes a value), or null; for a program that only reads
// (writing false), null for the writers' own options too. Pure.
const CommandOption* find_command_option(const char* text, bool writing = true);

// The index in argv of the first positional argument (the mode): 1 plus
// the leading options and their values. Pure.
int first_positional_index(int argc, const char* const* argv, bool writing = true);

// --help's rows for command_options (less the writers' own where writing is
// false): "  <shown>  <description>\n" each, in the column of the number
// rows, wrapped as they are. Pure.
std::string format_option_rows(bool writing = true);

// The line (ending in '\n') that explains to the user why a command line
// of outcome cannot be run: unknown_option, too_many_arguments,
// prefix_too_long, quote_in_prefix, forbidden_in_prefix, option_as_prefix and bad_option_value; "" for the others.
// Headed by program. Pure.
std::string command_line_refusal(const char* program, ParseOutcome outcome, int argc, const char* const* argv,
                                 bool writing = true);

// "Usage: VORLAX <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n"
extern const char* const usage_text;

// The longest part of an argument that a note or refusal quotes.
constexpr size_t quoted_bytes = 40;

// text in double quotes, on one line: control characters as escapes, and
// cut after quoted_bytes with "..." so a huge argument gives a short line.
// Pure.
std::string quoted(const char* text);

// True for the blanks that "%d" skips in the C locale: space and \t to \r.
bool is_blank(char c);

// True when argc (argv[0] included) is a count of arguments a run takes:
// the mode and up to four more.
bool argument_count_fits(int argc);

// What the mode argument names by its first letter: 'B' for b or B, 'U' for
// u or U, '\0' for anything else (which runs unbuffered).
char mode_letter(const char* text);

// Reads a decimal integer as the "%d" conversion does, but the same on every
// system: leading blanks skipped, one optional sign, digits up to the first
// other character accumulated modulo 2^32 with no overflow test, a leading
// minus negating the result. Returns false, leaving *value alone, when there
// are no digits.
bool read_decimal(const char* text, uint32_t* value);

// What a reader of a decimal integer found in a text.
struct DecimalText {
    bool found = false;         // there were digits
    uint32_t value = 0;         // the number as read_decimal gives it
    bool negative = false;      // a leading minus
    uint32_t exact = 0;         // the digits without the sign, modulo 2^32
    bool wrapped = false;       // the digits passed 2^32 - 1
    const char* rest = nullptr; // the text after the digits (after any sign without digits)
};

// Reads text as read_decimal does and tells all it saw. Pure.
DecimalText scan_decimal(const char* text);

// A number on the command line: its name in the usage text, its range
// (1 to max_value), what a number out of range gives, and where it goes.
struct NumberArgument {
    const char* name;
    uint32_t max_value;
    uint32_t fallback;
    uint32_t RunSettings::*field;
};
// max-buf-KB, max-threads and max-GB: the third, fourth and fifth arguments.
extern const NumberArgument number_arguments[3];

// The largest max-buf-KB and max-GB the command line takes.
inline uint32_t largest_buffer_kb() { return number_arguments[0].max_value; }
inline uint32_t largest_max_gb() { return number_arguments[2].max_value; }

// "<program>: path prefix too long<detail>; use a shorter path\n": the line
// that refuses a prefix whose test file names would pass the system's limit.
std::string prefix_too_long_line(const char* program, const std::string& detail);

// Why prefix's test file names could not be created for their length, as
// prefix_too_long_line's detail (": \"<prefix>\" gives ..."); "" when they
// fit both the limit on one name and the one on a whole path.
std::string prefix_length_detail(const char* prefix);

// The characters of prefix a file name may not hold here
// (platform_name_forbidden_chars, each once, in their order in prefix;
// a drive's ':' and a leading \\?\ excepted); "" when there are none. Pure.
std::string forbidden_prefix_chars(const char* prefix);

// True when number is one argument takes as it is.
bool number_in_range(const NumberArgument& argument, uint32_t number);

// Stores in settings what text makes of argument: the number when it is in
// range, the fallback when not; nothing when text has no digits.
void read_number_argument(const NumberArgument& argument, const char* text, RunSettings* settings);

// How a help text words a number argument's range, default and fallback:
// each piece stands before its figure ("1 to <max>", the default, the
// fallback), end after the last.
struct RangeWording {
    const char* before_range;
    const char* before_default;
    const char* before_fallback;
    const char* end;
};

// A help text's rows for max-buf-KB, max-threads and max-GB, in that order:
// "  <name>  <description><wording with the figures>\n", the figures from
// number_arguments and RunSettings' defaults. A row longer than the help
// texts' 78 columns breaks at blanks onto lines indented under the
// descriptions; a '~' is a blank it never breaks at. Pure.
std::string format_number_rows(const char* const descriptions[3], const RangeWording& wording);

// A program's --help text, less its usage line: text, with a line
// "<number rows>" where the rows for max-buf-KB, max-threads and max-GB go,
// and the words those rows use.
struct HelpText {
    const char* text;
    const char* number_descriptions[3];
    RangeWording number_wording;
    bool writing = true;  // lists the writers' own options
};

// help.text with its "<number rows>" line replaced by the rows that
// format_number_rows makes of help's words, and its "<option rows>" line by
// format_option_rows; the text as it is when it has neither line. Pure.
std::string format_help(const HelpText& help);

// Fills *settings from argv[1..argc-1] (argv[0], the program, is skipped):
// the leading options (command_options; help and version end the reading),
// then the mode and up to four more. Absent arguments keep the defaults;
// numbers out of range take their fallbacks (buffer 64, threads 1, size 4);
// texts without digits assign nothing. A program that only reads (writing
// false) takes none of the writers' own options. Pure: prints nothing.
// *settings is only meaningful for run.
ParseOutcome parse_settings(int argc, const char* const* argv, RunSettings* settings, bool writing = true);

