// The help texts' rows of number arguments and the pieces of the command
// line that the parser and the notes share.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The rows as one line each: every break and its indent undone.
std::vector<std::string> unwrapped(const std::string& rows) {
    std::vector<std::string> joined;
    for (const std::string& line : lines_of(rows)) {
        if (line.rfind("               ", 0) == 0 && !joined.empty())
            joined.back() += " " + line.substr(15);
        else
            joined.push_back(line);
    }
    return joined;
}

}  // namespace

TEST(NumberRows, FiguresComeFromTheParsersTableInEveryWording) {
    const char* const short_words[3] = {"size", "count", "size"};
    const char* const long_words[3] = {"block size in KB (1024 bytes) of every write the threads make",
                                       "writer threads per rank", "size of each file in GB (2^30 bytes)"};
    struct Case {
        const char* const* descriptions;
        RangeWording wording;
    };
    const Case cases[] = {
        {short_words, {": ", ", default ", ", out of range ", ""}},
        {long_words, {", ", " (default ", "; out of range: ", ")"}},
        {long_words, {", ", "; default ", ", out~of~range~", ""}},
    };
    const RunSettings defaults;
    for (const Case& c : cases) {
        const std::string rows = format_number_rows(c.descriptions, c.wording);
        SCOPED_TRACE(rows);
        ASSERT_EQ(rows.back(), '\n');
        EXPECT_EQ(rows.find('~'), std::string::npos);
        for (const std::string& line : lines_of(rows)) {
            EXPECT_LE(line.size(), 78u);
            EXPECT_NE(line.back(), ' ');
        }
        const std::vector<std::string> joined = unwrapped(rows);
        ASSERT_EQ(joined.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            const NumberArgument& argument = number_arguments[i];
            std::string expected = std::string("  ") + argument.name;
            expected.resize(15, ' ');
            expected += std::string(c.descriptions[i]) + c.wording.before_range + "1 to " +
                        std::to_string(argument.max_value) + c.wording.before_default +
                        std::to_string(defaults.*argument.field) + c.wording.before_fallback +
                        std::to_string(argument.fallback) + c.wording.end;
            for (char& ch : expected)
                if (ch == '~') ch = ' ';
            EXPECT_EQ(joined[i], expected);
        }
    }
}

TEST(NumberRows, NeverBreaksAtATilde) {
    // Without the tildes "out of" would still fit on the first line.
    const char* const words[3] = {"a description of thirty letters", "b", "c"};
    const std::string rows = format_number_rows(words, {", ", "; default ", ", out~of~range~", ""});
    EXPECT_NE(rows.find("\n               out of range 64\n"), std::string::npos) << rows;
}

TEST(CommandLinePieces, CountsModeLettersAndBlanks) {
    for (int argc = 0; argc < 9; ++argc) EXPECT_EQ(argument_count_fits(argc), argc >= 2 && argc <= 6) << argc;
    const struct {
        const char* text;
        char letter;
    } modes[] = {{"B", 'B'}, {"buffered", 'B'}, {"u", 'U'}, {"Unbuffered", 'U'},
                 {"x", '\0'}, {"", '\0'}, {" B", '\0'}};
    for (const auto& mode : modes) EXPECT_EQ(mode_letter(mode.text), mode.letter) << mode.text;
    for (char c : std::string(" \t\n\v\f\r")) EXPECT_TRUE(is_blank(c)) << int(c);
    for (char c : std::string("x0\b\x0e")) EXPECT_FALSE(is_blank(c)) << int(c);
}
