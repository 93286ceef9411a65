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
