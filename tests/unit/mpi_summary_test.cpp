// vorlax-mpi's pure parts: each rank's path prefix and the lines rank 0
// prints beside the progress lines.
#include <gtest/gtest.h>

#include <cstring>

#include "mpi/mpi_names.h"
#include "mpi/mpi_summary.h"

namespace {

TEST(MpiNames, RankPrefix) {
    const struct {
        const char* prefix;
        uint32_t rank;
        const char* expected;
    } cases[] = {
        {"/mnt/run", 3, "/mnt/run_r0003"},
        {"/local/{host}/run", 7, "/local/node-a/run_r0007"},
        {"/scratch/{rank}/run", 1, "/scratch/1/run"},                  // {rank}: no _r part
        {"/x/{host}-{rank}/{rank}", 10, "/x/node-a-10/10"},            // every occurrence
        {"/x/{Host}/run", 2, "/x/{Host}/run_r0002"},                   // only the exact words
    };
    for (const auto& c : cases) EXPECT_EQ(rank_prefix(c.prefix, "node-a", c.rank), c.expected) << c.prefix;
}

RankRow row(uint32_t rank, const char* host, uint64_t mb, uint64_t span_ms, uint64_t mb_at_first_end,
            bool fell_short = false) {
    RankRow r{};
    r.rank = rank;
    r.fell_short = fell_short;
    r.total_kb = mb << 10;
    r.span_ms = span_ms;
    r.kb_at_first_end = mb_at_first_end << 10;
    r.barrier_us = 1500 + rank * 1000;
    r.durable_ms = span_ms + 250;
    r.longest_flush_ms = 250 - rank;
    std::strcpy(r.host, host);
    return r;
}

TEST(MpiSummary, LinesForThreeRanks) {
    const std::vector<RankRow> rows = {row(0, "a", 2048, 2000, 1500), row(1, "b", 2048, 4000, 1000),
                                       row(2, "a", 1024, 1000, 1024, true)};
    const std::vector<std::string> expected = {
        "rank 0 on a: 2048 MB written in 2.000 s, 1024 MB/s\n",
        "rank 1 on b: 2048 MB written in 4.000 s, 512 MB/s\n",
        "rank 2 on a: 1024 MB written in 1.000 s, 1024 MB/s, fell short\n",
        "slowest: rank 1 on b, 512 MB/s\n",
        "fastest: rank 0 on a, 1024 MB/s\n",  // first of equals
        "MB/s while all ranks were writing: 3524 (3524 MB in 1.000 s, until the first rank finished)\n",
        "MB/s to completion: 1280 (5120 MB in 4.000 s, until the last rank finished)\n",
        "tail: 3.000 s between the first and the last rank to finish\n",
        "start: all ranks released within 1.500 ms (the start barrier on the last rank to reach it)\n",
        "durable: every file flushed 4.250 s after the start; the longest flush took 0.250 s\n",
    };
    EXPECT_EQ(summary_lines(rows, true), expected);
    std::vector<std::string> unbuffered = summary_lines(rows, false);
    EXPECT_EQ(unbuffered, std::vector<std::string>(expected.begin(), expected.end() - 1));
}

TEST(MpiSummary, ARankThatNeverWroteEndsFirstAtZero) {
    const std::vector<std::string> lines = summary_lines({row(0, "a", 0, 0, 0, true), row(1, "a", 512, 500, 3)}, false);
    EXPECT_EQ(lines[0], "rank 0 on a: 0 MB written in 0.000 s, 0 MB/s, fell short\n");
    EXPECT_EQ(lines[4], "MB/s while all ranks were writing: 0 (3 MB in 0.000 s, until the first rank finished)\n");
}

TEST(MpiSummary, BannerCompletionLineAndHosts) {
    RunSettings settings;
    settings.buffer_kb = 1024;
    settings.thread_count = 2;
    EXPECT_EQ(mpi_banner(settings, 8, 4),
              "VORLAX: writing unbuffered 1024K buffers in 2 threads up to 1 GB each, on 8 ranks of 4 hosts\n");
    EXPECT_EQ(mpi_completion_line(12, 3, 16384), "rank 12 thread 3 done! 16384\n");
    EXPECT_EQ(count_hosts({"a", "b", "a", "c", "b"}), 3u);
}

}  // namespace
