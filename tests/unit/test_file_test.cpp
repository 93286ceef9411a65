#include "test_file/test_file.h"

#include <gtest/gtest.h>

namespace {

TEST(TestFileName, PrefixUnderscoreTwoDigitsAndBin) {
    const struct {
        const char* prefix;
        uint32_t index;
        const char* name;
    } cases[] = {
        {"./", 0, "./_00.BIN"},           {".\\", 0, ".\\_00.BIN"},    {"E:\\bench", 7, "E:\\bench_07.BIN"},
        {"/mnt/x", 9, "/mnt/x_09.BIN"},   {"/mnt/x", 10, "/mnt/x_10.BIN"}, {"/mnt/x", 98, "/mnt/x_98.BIN"},
        {"", 3, "_03.BIN"},
    };
    for (const auto& c : cases) {
        std::string name;
        ASSERT_TRUE(test_file_name(c.prefix, c.index, 260, &name));
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(prefix_of(name), c.prefix) << "prefix_of inverts test_file_name";
    }
    EXPECT_EQ(prefix_of(".BIN"), "") << "too short to hold a suffix";
    EXPECT_EQ(prefix_of("_00.BIN"), "") << "the suffix alone";
}

TEST(TestFileName, NeverFormedPastTheLimit) {
    std::string name = "untouched";
    std::string prefix(252, 'p');  // 252 + 7 + terminator = 260
    EXPECT_TRUE(test_file_name(prefix.c_str(), 98, 260, &name));
    EXPECT_EQ(name.size(), 259u);
    name = "untouched";
    prefix += 'p';
    EXPECT_FALSE(test_file_name(prefix.c_str(), 0, 260, &name));
    EXPECT_EQ(name, "untouched");
}

TEST(TestFileLayout, BlockCounts) {
    const struct {
        uint32_t max_gb, buffer_kb;
        int64_t blocks;
    } cases[] = {
        {1, 64, 1 << 14},          // the default run
        {1, 3, (1 << 20) / 3},     // remainder dropped: 1 KB short of 1 GB
        {63, 32768, 63 * 32},
        {1, 32768, 32},
        {63, 1, 63ll << 20},
        {4, 1024, 4096},
        {1, 0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(test_file_block_count(c.max_gb, c.buffer_kb), c.blocks);
    EXPECT_EQ(test_file_block_count(1, 3) * 3, (1 << 20) - 1);
}

TEST(TestFileLayout, FillByteIsTheBlockNumberModulo256) {
    EXPECT_EQ(test_file_fill_byte(0), 0x00);
    EXPECT_EQ(test_file_fill_byte(255), 0xFF);
    EXPECT_EQ(test_file_fill_byte(256), 0x00);
    EXPECT_EQ(test_file_fill_byte((1 << 14) - 1), 0xFF);  // last block of a default file
    EXPECT_EQ(test_file_fill_byte((63ll << 20) - 2), 0xFE);
}

}  // namespace
