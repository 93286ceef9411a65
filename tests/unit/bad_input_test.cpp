// Hostile command lines: every argument position with texts a user, a
// script or a fuzzer could pass. The parser must give the outcome its rules
// say and never read past an argument.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/settings.h"
#include "test_file/test_file.h"

namespace {

// A text and the number the reader must find in it, if any.
struct OddText {
    const char* label;
    std::string text;
    std::optional<uint32_t> number;
};

const std::vector<OddText>& odd_texts() {
    static const std::vector<OddText> texts = {
        {"empty", "", std::nullopt},
        {"blanks only", " \t \n\v\f\r", std::nullopt},
        {"minus alone", "-", std::nullopt},
        {"plus alone", "+", std::nullopt},
        {"two signs", "+-5", std::nullopt},
        {"sign then blank", "- 5", std::nullopt},
        {"minus zero", "-0", 0u},
        {"blanks then number", " \t 42", 42u},
        {"20 digits", "12345678901234567890", 3944680146u},
        {"2^31", "2147483648", 2147483648u},
        {"2^32", "4294967296", 0u},
        {"2^32+1", "4294967297", 1u},
        {"2^32+99", "4294967395", 99u},
        {"minus (2^32-1)", "-4294967295", 1u},
        {"minus five", "-5", 4294967291u},
        {"non-numeric", "abc", std::nullopt},
        {"digits then letters", "12abc", 12u},
        {"digits then blank", "7 8", 7u},
        {"non-UTF-8", "\xff\xfe\xc3", std::nullopt},
        {"digits then non-UTF-8", "9\xff", 9u},
        {"non-UTF-8 then digits", "\xc3\xa9" "9", std::nullopt},
        {"100000 digits", std::string(100000, '7'), 1908874353u},
        {"100000 letters", std::string(100000, 'x'), std::nullopt},
    };
    return texts;
}

TEST(BadInput, ReadDecimalFindsTheNumberOrNothing) {
    for (const OddText& odd : odd_texts()) {
        uint32_t value = 0xDEADBEEF;
        bool found = read_decimal(odd.text.c_str(), &value);
        EXPECT_EQ(found, odd.number.has_value()) << odd.label;
        EXPECT_EQ(value, odd.number.value_or(0xDEADBEEF)) << odd.label;
    }
}

// The three number positions: where they sit and what they do with a number.
struct NumberSlot {
    const char* name;
    int position;  // index in argv
    uint32_t RunSettings::*field;
    uint32_t default_value, max_value, fallback;
};

const NumberSlot slots[] = {
    {"buffer_kb", 3, &RunSettings::buffer_kb, 64, 32768, 64},
    {"thread_count", 4, &RunSettings::thread_count, 1, 99, 1},
    {"max_gb", 5, &RunSettings::max_gb, 1, 63, 4},
};

TEST(BadInput, EveryNumberPositionTakesItsDefaultFallbackOrValue) {
    for (const NumberSlot& slot : slots) {
        for (const OddText& odd : odd_texts()) {
            std::vector<std::string> words = {"vorlax", "B", "/tmp/p", "8", "2", "3"};
            words[slot.position] = odd.text;
            std::vector<const char*> argv;
            for (const std::string& word : words) argv.push_back(word.c_str());
            RunSettings settings;
            ASSERT_EQ(parse_settings(6, argv.data(), &settings), ParseOutcome::run) << slot.name << odd.label;
            uint32_t expected = slot.default_value;
            if (odd.number) expected = (*odd.number == 0 || *odd.number > slot.max_value) ? slot.fallback : *odd.number;
            EXPECT_EQ(settings.*slot.field, expected) << slot.name << ": " << odd.label;
            // The other positions keep what they were given.
            EXPECT_EQ(settings.buffer_kb, slot.position == 3 ? expected : 8u) << odd.label;
            EXPECT_EQ(settings.thread_count, slot.position == 4 ? expected : 2u) << odd.label;
            EXPECT_EQ(settings.max_gb, slot.position == 5 ? expected : 3u) << odd.label;
        }
    }
}

TEST(BadInput, ModeAndPathPositionsTakeAnyText) {
    for (const OddText& odd : odd_texts()) {
        const char* mode_argv[] = {"vorlax", odd.text.c_str(), "/tmp/p"};
        RunSettings settings;
        // A first argument that begins like an option is never a mode.
        if (looks_like_option(odd.text.c_str())) {
            EXPECT_EQ(parse_settings(3, mode_argv, &settings), ParseOutcome::unknown_option) << odd.label;
        } else {
            ASSERT_EQ(parse_settings(3, mode_argv, &settings), ParseOutcome::run) << odd.label;
            EXPECT_FALSE(settings.buffered) << odd.label;  // none of the texts begins with b or B
        }

        const char* path_argv[] = {"vorlax", "b", odd.text.c_str()};
        ParseOutcome outcome = parse_settings(3, path_argv, &settings);
        if (odd.text.size() + test_file_suffix_chars > 255) {  // one name, no folder
            EXPECT_EQ(outcome, ParseOutcome::prefix_too_long) << odd.label;
        } else {
            ASSERT_EQ(outcome, ParseOutcome::run) << odd.label;
            EXPECT_EQ(settings.path_prefix, path_argv[2]);
            EXPECT_TRUE(settings.buffered);
        }
    }
}

TEST(BadInput, OddTextsNeverChangeAWrongCountIntoARun) {
    for (const OddText& odd : odd_texts()) {
        RunSettings settings;
        const char* none[] = {"vorlax"};
        EXPECT_EQ(parse_settings(1, none, &settings), ParseOutcome::usage);
        std::vector<const char*> six(7, odd.text.c_str());
        six[0] = "vorlax";
        EXPECT_EQ(parse_settings(7, six.data(), &settings),
                  looks_like_option(odd.text.c_str()) ? ParseOutcome::unknown_option : ParseOutcome::too_many_arguments)
            << odd.label;
        EXPECT_EQ(parse_settings(0, nullptr, &settings), ParseOutcome::usage);
    }
}

}  // namespace
