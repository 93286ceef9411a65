#include "progress/progress.h"

#include <gtest/gtest.h>

#include "output/output.h"

namespace {

TEST(Progress, TimePrefix) {
    ProgressLine line = format_progress({1000, 2015, 1000, 0, 0});
    EXPECT_EQ(line.text.substr(0, 10), "   1.015: ");
    // From 10^4 s on the seconds grow past four places and are not cut.
    line = format_progress({0, 10000000, 9999000, 0, 0});
    EXPECT_EQ(line.text.substr(0, 11), "10000.000: ");
}

TEST(Progress, WorkedSamplesOfAWholeRun) {
    const uint64_t start = 5000;
    ProgressLine first = format_progress({start, start + 1000, start, 1u << 18, 0});
    EXPECT_EQ(first.text, "   1.000:      256 MB written,  256 MB/s sustained,  256 MB/S incremental\n");
    EXPECT_EQ(first.mb, 256u);

    ProgressLine second = format_progress({start, start + 2000, start + 1000, 1u << 20, first.mb});
    EXPECT_EQ(second.text, "   2.000:     1024 MB written,  512 MB/s sustained,  768 MB/S incremental\n");

    ProgressLine third = format_progress({start, start + 3000, start + 2000, 3u << 19, second.mb});
    EXPECT_EQ(third.text, "   3.000:     1536 MB written,  512 MB/s sustained,  512 MB/S incremental\n");
}

TEST(Progress, TruncationsAndLimits) {
    // Part of an MB does not count.
    EXPECT_EQ(format_progress({0, 1000, 0, (1u << 20) - 1, 0}).mb, 1023u);
    // Past 4 TB the 64-bit total keeps counting.
    uint64_t five_tb_kb = 5ull << 30;
    ProgressLine big = format_progress({0, 1000, 0, five_tb_kb, 0});
    EXPECT_EQ(big.mb, 5ull << 20);
    EXPECT_NE(big.text.find(" 5242880 MB written"), std::string::npos) << big.text;
    // An interval of 0 ms is never divided by.
    ProgressLine instant = format_progress({7, 7, 7, 1024, 0});
    EXPECT_EQ(instant.text, "   0.000:        1 MB written, 1000 MB/s sustained, 1000 MB/S incremental\n");
    // Ticks far past 2^32 ms.
    uint64_t late = (1ull << 33) + 123;
    EXPECT_EQ(format_progress({late, late + 1500, late + 500, 3u << 10, 1}).text,
              "   1.500:        3 MB written,    2 MB/s sustained,    2 MB/S incremental\n");
}

TEST(Output, CountsAndThousandths) {
    EXPECT_EQ(count_words(0, "block", "blocks"), "0 blocks");
    EXPECT_EQ(count_words(1, "block", "blocks"), "1 block");
    EXPECT_EQ(count_words(UINT64_MAX, "byte", "bytes"), "18446744073709551615 bytes");
    EXPECT_EQ(thousandths_text(0), "0.000");
    EXPECT_EQ(thousandths_text(12345), "12.345");
    EXPECT_EQ(thousandths_text(7, 4), "   0.007");
    EXPECT_EQ(thousandths_text(123456789, 4), "123456.789") << "wider than its columns";
}

}  // namespace
