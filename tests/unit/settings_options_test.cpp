// The command line's refusals and the options before the mode (--seconds,
// the timing options); settings_test.cpp holds the modes and numbers.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "notes/notes.h"
#include "output/output.h"
#include "platform/platform.h"
#include "help_words.h"

namespace {

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
        // The mode by its letter and a value as "...": a line break in either cannot split the line.
        {{"u\nx", "--seconds=1\n2"}, ParseOutcome::option_as_prefix,
         "vorlax: \"--seconds=1\\n2\" after the mode would be the path prefix: options go before the mode "
         "(vorlax --seconds=... U ...)\n"},
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

}  // namespace
