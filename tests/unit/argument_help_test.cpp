// The help texts' rows of number arguments and the pieces of the command
// line that the parser and the notes share.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "main/vorlax_program.h"
#include "main/vorlax_read_program.h"
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

TEST(HelpText, TheRowsTakeTheMarkersLineAndNothingElse) {
    const char* const words[3] = {"size", "count", "size"};
    const RangeWording wording = {": ", ", default ", ", out of range ", ""};
    const std::string rows = format_number_rows(words, wording);
    const struct {
        const char* text;
        std::string expected;
    } cases[] = {
        {"head\n<number rows>\ntail\n", "head\n" + rows + "tail\n"},
        {"<number rows>\n", rows},
        {"head\n<number rows>\n", "head\n" + rows},
        {"no rows here\n", "no rows here\n"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(format_help({c.text, {words[0], words[1], words[2]}, wording}), c.expected);
}

// The programs' texts come from files beside their records: each must hold
// the rows' line once, and the text made of it must fit a terminal.
TEST(HelpText, EachProgramsTextHoldsItsRowsOnceAndFits) {
    for (const ProgramInfo* program : {&vorlax_program, &vorlax_read_program}) {
        SCOPED_TRACE(program->name);
        const std::string text = program->help.text;
        const size_t marker = text.find("\n<number rows>\n");
        ASSERT_NE(marker, std::string::npos);
        EXPECT_EQ(text.find("<number rows>", marker + 2), std::string::npos);
        const std::string help = format_help(program->help);
        EXPECT_EQ(help.find("<number rows>"), std::string::npos);
        EXPECT_NE(help.find("\n  max-buf-KB   "), std::string::npos);
        EXPECT_EQ(help.back(), '\n');
        for (const std::string& line : lines_of(help)) EXPECT_LE(line.size(), 78u) << line;
    }
}

// Every cause of status 2 and the signals' statuses are in the help's
// exit status list; the memory-backed refusal is vorlax's alone.
TEST(HelpText, ExitStatusListNamesEveryRefusalAndTheSignals) {
    const struct {
        const ProgramInfo* program;
        bool memory_refusal;
    } cases[] = {{&vorlax_program, true}, {&vorlax_read_program, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program->name);
        std::string list = format_help(c.program->help);
        list = list.substr(list.find("Exit status:"));
        for (char& ch : list) ch = ch == '\n' ? ' ' : ch;
        for (std::string gap = "  "; list.find(gap) != std::string::npos;) list.replace(list.find(gap), 2, " ");
        for (const char* cause :
             {"argument count", "unknown option", "bad option value", "prefix too long", "--json FILE", "130, 143"})
            EXPECT_NE(list.find(cause), std::string::npos) << cause << " in " << list;
        EXPECT_EQ(list.find("memory-backed") != std::string::npos, c.memory_refusal) << list;
    }
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
