#include "settings/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "notes/notes.h"
#include "output/output.h"
#include "platform/platform.h"
#include "help_words.h"

namespace {

ParseOutcome parse(std::vector<const char*> args, RunSettings* settings) {
    args.insert(args.begin(), "vorlax");
    return parse_settings(static_cast<int>(args.size()), args.data(), settings);
}

struct ReadCase {
    const char* text;
    bool found;
    uint32_t value;
};

TEST(ReadDecimal, FollowsThePercentDConversion) {
    const ReadCase cases[] = {
        {"256", true, 256},          {"  \t42", true, 42},        {"256k", true, 256},
        {"12abc", true, 12},         {"+7", true, 7},             {"-1", true, 0xFFFFFFFFu},
        {"-0", true, 0},             {"4294967297", true, 1},     {"4294967296", true, 0},
        {"2147483648", true, 2147483648u},                        {"99999999999999999999", true, 1661992959u},
        {"", false, 0},              {"   ", false, 0},           {"+", false, 0},
        {"-", false, 0},             {"+-1", false, 0},           {"abc", false, 0},
        {"k256", false, 0},          {"\xff\xfe", false, 0},
    };
    for (const ReadCase& c : cases) {
        uint32_t value = 12345;
        EXPECT_EQ(read_decimal(c.text, &value), c.found) << '"' << c.text << '"';
        EXPECT_EQ(value, c.found ? c.value : 12345u) << '"' << c.text << '"';
    }
}

struct ParseCase {
    std::vector<const char*> args;
    bool buffered;
    uint32_t buffer_kb, thread_count, max_gb;
};

TEST(ParseSettings, ModesNumbersFallbacksAndDefaults) {
    const ParseCase cases[] = {
        {{"U"}, false, 64, 1, 1},
        {{"u"}, false, 64, 1, 1},
        {{"x"}, false, 64, 1, 1},
        {{""}, false, 64, 1, 1},
        {{"b"}, true, 64, 1, 1},
        {{"B"}, true, 64, 1, 1},
        {{"buffered"}, true, 64, 1, 1},
        {{"Bogus"}, true, 64, 1, 1},
        {{"U", "p", "0"}, false, 64, 1, 1},
        {{"U", "p", "-1"}, false, 64, 1, 1},
        {{"U", "p", "32769"}, false, 64, 1, 1},
        {{"U", "p", "32768"}, false, 32768, 1, 1},
        {{"U", "p", "1"}, false, 1, 1, 1},
        {{"U", "p", "12abc"}, false, 12, 1, 1},
        {{"U", "p", "4294967297"}, false, 1, 1, 1},
        {{"U", "p", "abc"}, false, 64, 1, 1},
        {{"U", "p", "8", "0"}, false, 8, 1, 1},
        {{"U", "p", "8", "100"}, false, 8, 1, 1},
        {{"U", "p", "8", "99"}, false, 8, 99, 1},
        {{"U", "p", "8", "x"}, false, 8, 1, 1},
        {{"U", "p", "8", "2", "0"}, false, 8, 2, 4},
        {{"U", "p", "8", "2", "64"}, false, 8, 2, 4},
        {{"U", "p", "8", "2", "-5"}, false, 8, 2, 4},
        {{"U", "p", "8", "2", "63"}, false, 8, 2, 63},
        {{"U", "p", "8", "2", "word"}, false, 8, 2, 1},
        {{"U", "p", "8", "2", ""}, false, 8, 2, 1},
    };
    for (const ParseCase& c : cases) {
        RunSettings settings;
        ASSERT_EQ(parse(c.args, &settings), ParseOutcome::run);
        std::string label = std::to_string(c.args.size()) + " args, last '" + c.args.back() + "'";
        EXPECT_EQ(settings.buffered, c.buffered) << label;
        EXPECT_EQ(settings.buffer_kb, c.buffer_kb) << label;
        EXPECT_EQ(settings.thread_count, c.thread_count) << label;
        EXPECT_EQ(settings.max_gb, c.max_gb) << label;
    }
}

TEST(ParseSettings, PathIsBorrowedUnchangedOrDefaults) {
    RunSettings settings;
    const char* prefix = "/mnt/disk/run";
    ASSERT_EQ(parse({"B", prefix}, &settings), ParseOutcome::run);
    EXPECT_EQ(settings.path_prefix, prefix);
    ASSERT_EQ(parse({"B"}, &settings), ParseOutcome::run);
    EXPECT_EQ(settings.path_prefix, platform_default_prefix);
}

TEST(ParseSettings, OutcomesOtherThanARun) {
    const struct {
        std::vector<const char*> args;
        ParseOutcome outcome;
    } cases[] = {
        {{}, ParseOutcome::usage},
        {{"U", "p", "64", "1", "1", "extra"}, ParseOutcome::too_many_arguments},
        // Every help and version form, on every system; options come first,
        // and the first of them decides.
        {{"-h"}, ParseOutcome::help},
        {{"--help"}, ParseOutcome::help},
        {{"/?"}, ParseOutcome::help},
        {{"-?"}, ParseOutcome::help},
        {{"/h"}, ParseOutcome::help},
        {{"/HELP"}, ParseOutcome::help},
        {{"-help"}, ParseOutcome::help},
        {{"--help", "p"}, ParseOutcome::help},
        {{"--version"}, ParseOutcome::version},
        {{"-v"}, ParseOutcome::version},
        {{"/V"}, ParseOutcome::version},
        {{"-V"}, ParseOutcome::version},
        // A first argument that begins with - or / is never a mode.
        {{"-W"}, ParseOutcome::unknown_option},
        {{"--help=x"}, ParseOutcome::unknown_option},
        {{"-x", "U"}, ParseOutcome::unknown_option},
        {{"/mnt/run"}, ParseOutcome::unknown_option},
        {{"-"}, ParseOutcome::unknown_option},
        {{"--"}, ParseOutcome::unknown_option},
        // After the mode, - and / are a path's, as before, unless the
        // prefix is one of the options: then the option came too late.
        {{"U", "-data"}, ParseOutcome::run},
        {{"U", "/mnt/run"}, ParseOutcome::run},
        {{"U", "-h"}, ParseOutcome::option_as_prefix},
        {{"B", "/?"}, ParseOutcome::option_as_prefix},
        {{"B", "--json=r.json", "64"}, ParseOutcome::option_as_prefix},
    };
    for (const auto& c : cases) {
        RunSettings settings;
        std::string words;
        for (const char* arg : c.args) words += std::string(arg) + " ";
        EXPECT_EQ(parse(c.args, &settings), c.outcome) << words;
    }
}

TEST(CommandLineRefusal, SaysWhyAndWhatToDo) {
    const struct {
        std::vector<const char*> args;
        ParseOutcome outcome;
        std::string line;
    } cases[] = {
        {{"-x"}, ParseOutcome::unknown_option,
         "vorlax: unknown option \"-x\": the mode, B or U, comes first; vorlax --help shows the usage\n"},
        {{"U", "Z:\\with", "space", "64", "1", "1"}, ParseOutcome::too_many_arguments,
         "vorlax: 6 arguments, at most 5: quote a path that has spaces\n"},
        // An option after the mode: the order is the fault, not the spaces.
        {{"U", "D/z", "1024", "1", "1", "--json", "q.json"}, ParseOutcome::too_many_arguments,
         "vorlax: the option \"--json\" comes after the mode: options go before the mode (B or U)\n"},
        {{"U", "D/z", "1024", "1", "1", "--latency"}, ParseOutcome::too_many_arguments,
         "vorlax: the option \"--latency\" comes after the mode: options go before the mode (B or U)\n"},
        {{"U", "D/z", "1024", "1", "1", "-q"}, ParseOutcome::too_many_arguments,
         "vorlax: 6 arguments, at most 5: quote a path that has spaces\n"},
        {{"B", "--help"}, ParseOutcome::option_as_prefix,
         "vorlax: \"--help\" after the mode would be the path prefix: options go before the mode (vorlax --help B "
         "...)\n"},
        {{"B", "p"}, ParseOutcome::run, ""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"vorlax"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const int argc = static_cast<int>(argv.size());
        RunSettings settings;
        EXPECT_EQ(parse_settings(argc, argv.data(), &settings), c.outcome) << c.line;
        EXPECT_EQ(with_help_as_on_linux(command_line_refusal("vorlax", c.outcome, argc, argv.data())), c.line);
    }
    // cmd reads \" as a quote mark: "Z:\with space\" 1024 2 1 reaches the
    // program as one prefix with a quote in it; Windows refuses such a name,
    // and those with the other characters it forbids, each named once.
    const bool windows = *platform_name_forbidden_chars != '\0';
    const struct {
        const char* prefix;
        ParseOutcome outcome;  // on Windows; Linux runs them all
        const char* named;     // in the refusal
    } forbidden[] = {{"Z:\\with space\" 1024 2 1", ParseOutcome::quote_in_prefix, "drop that \\, or double it"},
                     {"a?b|c?", ParseOutcome::forbidden_in_prefix, "holds ? |, which no file name"},
                     {"C:\\x\\a<b>:*", ParseOutcome::forbidden_in_prefix, "holds < > : *, which"},
                     {"C:\\x\\run", ParseOutcome::run, ""},
                     {"\\\\?\\C:\\x\\run", ParseOutcome::run, ""}};
    for (const auto& c : forbidden) {
        const char* argv[] = {"vorlax", "B", c.prefix};
        RunSettings settings;
        const ParseOutcome outcome = parse_settings(3, argv, &settings);
        EXPECT_EQ(outcome, windows ? c.outcome : ParseOutcome::run) << c.prefix;
        if (outcome != ParseOutcome::run)
            EXPECT_NE(command_line_refusal("vorlax", outcome, 3, argv).find(c.named), std::string::npos) << c.prefix;
    }
    // Help lists every option of the table the parser reads.
    const std::string rows = format_option_rows();
    for (size_t row = 0; row < command_option_count; ++row)
        EXPECT_NE(rows.find(command_options[row].shown), std::string::npos) << command_options[row].shown;
}

// --seconds S: a whole number of seconds from 1 to max_seconds, before the
// mode, for the programs that write; its refusal names the value it wants.
TEST(ParseSettings, SecondsOption) {
    const std::string wanted = ": it takes a whole number of seconds, 1 to 1000000\n";
    const struct {
        std::vector<const char*> args;
        bool writing;
        ParseOutcome outcome;
        uint32_t seconds;
        std::string refusal;
    } cases[] = {
        {{"--seconds", "5", "U", "p", "1024", "2", "8"}, true, ParseOutcome::run, 5, ""},
        {{"--seconds=300", "B"}, true, ParseOutcome::run, 300, ""},
        {{"--seconds", "1000000", "U"}, true, ParseOutcome::run, 1000000, ""},
        {{"U", "p", "64"}, true, ParseOutcome::run, 0, ""},
        {{"--seconds", "0", "U"}, true, ParseOutcome::bad_option_value, 0, "vorlax: --seconds \"0\"" + wanted},
        {{"--seconds", "1000001", "U"}, true, ParseOutcome::bad_option_value, 0,
         "vorlax: --seconds \"1000001\"" + wanted},
        {{"--seconds", "5s", "U"}, true, ParseOutcome::bad_option_value, 0, "vorlax: --seconds \"5s\"" + wanted},
        {{"--seconds=-5", "U"}, true, ParseOutcome::bad_option_value, 0, "vorlax: --seconds \"-5\"" + wanted},
        {{"--seconds", "U"}, true, ParseOutcome::bad_option_value, 0, "vorlax: --seconds \"U\"" + wanted},
        {{"--seconds"}, true, ParseOutcome::bad_option_value, 0, "vorlax: --seconds without a value" + wanted},
        {{"--seconds=", "U"}, true, ParseOutcome::bad_option_value, 0, "vorlax: --seconds \"\"" + wanted},
        // vorlax-read takes it not: reading has no deadline.
        {{"--seconds", "5", "U"}, false, ParseOutcome::unknown_option, 0,
         "vorlax: unknown option \"--seconds\": the mode, B or U, comes first; vorlax --help shows the usage\n"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"vorlax"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const int argc = static_cast<int>(argv.size());
        RunSettings settings;
        const ParseOutcome outcome = parse_settings(argc, argv.data(), &settings, c.writing);
        EXPECT_EQ(outcome, c.outcome) << c.refusal;
        if (outcome == ParseOutcome::run) {
            EXPECT_EQ(settings.seconds, c.seconds);
        }
        EXPECT_EQ(with_help_as_on_linux(command_line_refusal("vorlax", outcome, argc, argv.data(), c.writing)),
                  c.refusal);
    }
    // The options before the mode get no notes; the arguments after them do.
    const char* line[] = {"vorlax", "--seconds", "5", "U", "p", "4M"};
    EXPECT_EQ(argument_notes(6, line, "vorlax", "writing"),
              std::vector<std::string>{"vorlax: note: max-buf-KB \"4M\" read as 4 (KB); sizes are whole KB, no "
                                       "suffixes\n"});
    EXPECT_EQ(format_option_rows(false).find("--seconds"), std::string::npos);
    EXPECT_NE(format_option_rows(true).find("--seconds S  write for S seconds"), std::string::npos);
}

TEST(ParseSettings, TimingOptionsBeforeTheMode) {
    const struct {
        std::vector<const char*> args;
        ParseOutcome outcome;
        bool latency;
        const char* json;
        uint32_t stall_ms;
        std::string refusal;
    } cases[] = {
        {{"--latency", "U"}, ParseOutcome::run, true, nullptr, 100, ""},
        {{"--json", "r.json", "B", "p"}, ParseOutcome::run, false, "r.json", 100, ""},
        {{"--json=r.json", "U"}, ParseOutcome::run, false, "r.json", 100, ""},
        {{"--stall-ms=1", "--latency", "--stall-ms", "3600000", "U"}, ParseOutcome::run, true, nullptr, 3600000, ""},
        // After the mode, an option as the path is one given too late.
        {{"U", "--latency"}, ParseOutcome::option_as_prefix, false, nullptr, 100, ""},
        {{"--json"}, ParseOutcome::bad_option_value, false, nullptr, 100,
         "vorlax: --json without a value: it takes a file name\n"},
        {{"--json=", "U"}, ParseOutcome::bad_option_value, false, nullptr, 100,
         "vorlax: --json \"\": it takes a file name\n"},
        {{"--stall-ms", "0", "U"}, ParseOutcome::bad_option_value, false, nullptr, 100,
         "vorlax: --stall-ms \"0\": it takes a whole number of ms, 1 to 3600000\n"},
        {{"--stall-ms=12x", "U"}, ParseOutcome::bad_option_value, false, nullptr, 100,
         "vorlax: --stall-ms \"12x\": it takes a whole number of ms, 1 to 3600000\n"},
        {{"--stall-ms", "-5", "U"}, ParseOutcome::bad_option_value, false, nullptr, 100, ""},
        {{"--stall-ms", "3600001", "U"}, ParseOutcome::bad_option_value, false, nullptr, 100, ""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"vorlax"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const int argc = static_cast<int>(argv.size());
        RunSettings settings;
        ASSERT_EQ(parse_settings(argc, argv.data(), &settings), c.outcome) << c.args[0];
        if (c.outcome == ParseOutcome::run) {
            EXPECT_EQ(settings.latency, c.latency) << c.args[0];
            EXPECT_STREQ(settings.json_path ? settings.json_path : "", c.json ? c.json : "") << c.args[0];
            EXPECT_EQ(settings.stall_ms, c.stall_ms) << c.args[0];
        } else if (!c.refusal.empty()) {
            EXPECT_EQ(command_line_refusal("vorlax", c.outcome, argc, argv.data()), c.refusal);
        }
    }
}

// The names must fit both limits: one name (255 on both systems) and the
// whole path (Linux PATH_MAX; Windows MAX_PATH of the full path, the
// current folder before a relative one). Just within each is taken, one
// more refused with the length and the limit.
TEST(ParseSettings, PrefixMustLeaveRoomForTheLongestName) {
    std::string whole;  // folders of 100 characters, then the longest that fits
    while (prefix_length_detail((whole + std::string(100, 'd') + "/").c_str()).empty())
        whole += std::string(100, 'd') + "/";
    while (prefix_length_detail((whole + "a").c_str()).empty()) whole += "a";
    // On Windows a name of 255 fits only where the whole path may be longer.
    const std::string lead = *platform_name_forbidden_chars ? "\\\\?\\C:\\" : "";
    const struct {
        std::string fits, past;
        const char* what;
    } cases[] = {{lead + std::string(248, 'n'), lead + std::string(249, 'n'), "one name"},  // + "_00.BIN": 255, 256
                 {whole, whole + "a", "a whole path"}};
    for (const auto& c : cases) {
        RunSettings settings;
        EXPECT_EQ(parse({"B", c.fits.c_str()}, &settings), ParseOutcome::run) << c.what;
        EXPECT_EQ(parse({"B", c.past.c_str()}, &settings), ParseOutcome::prefix_too_long) << c.what;
        const std::string line = prefix_too_long_line("vorlax", prefix_length_detail(c.past.c_str()));
        EXPECT_EQ(line.rfind("vorlax: path prefix too long: \"", 0), 0u) << line;
        EXPECT_NE(line.find(std::string(" characters, past this system's limit of ")), std::string::npos) << line;
        EXPECT_NE(line.find(std::string(" for ") + c.what + "; use a shorter path\n"),
                  std::string::npos)
            << line;
    }
}

TEST(Banner, ShowsTheValuesInForce) {
    RunSettings settings;
    ASSERT_EQ(parse({"U"}, &settings), ParseOutcome::run);
    EXPECT_EQ(format_banner(settings), "VORLAX: writing unbuffered 64K buffers in 1 threads up to 1 GB each\n");
    ASSERT_EQ(parse({"b", "p", "1024", "99", "0"}, &settings), ParseOutcome::run);
    EXPECT_EQ(format_banner(settings), "VORLAX: writing buffered 1024K buffers in 99 threads up to 4 GB each\n");
}

}  // namespace
