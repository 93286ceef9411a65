#include "latency/latency.h"
#include "latency/latency_lines.h"
#include "record/json_text.h"
#include "record/record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint64_t us = 1000, ms = 1000 * us, s = 1000 * ms;

std::unique_ptr<BlockTimes> fresh(uint64_t stall_ns = 100 * ms) {
    auto times = std::make_unique<BlockTimes>();
    block_times_reset(times.get(), stall_ns);
    return times;
}

TEST(Latency, BucketEdgesCoverEveryTimeWithinOnePercent) {
    // The buckets tile the range: each starts one past the end of the one before.
    for (uint32_t bucket = 0; bucket + 1 < latency_bucket_count; ++bucket)
        ASSERT_EQ(latency_bucket_low_ns(bucket + 1), latency_bucket_high_ns(bucket) + 1) << bucket;
    const uint64_t times[] = {0, 1, 127, 128, 129, 255, 256, 1 * us, 999 * us, 1 * ms + 1, 1023 * ms,
                              1024 * ms, 100 * s, 200 * s, (uint64_t(1) << 38) - 1};
    for (uint64_t ns : times) {
        const uint32_t bucket = latency_bucket_of(ns);
        EXPECT_LE(latency_bucket_low_ns(bucket), ns) << ns;
        EXPECT_GE(latency_bucket_high_ns(bucket), ns) << ns;
        const double width = static_cast<double>(latency_bucket_high_ns(bucket) - latency_bucket_low_ns(bucket));
        if (ns >= us && bucket + 1 < latency_bucket_count) {
            EXPECT_LT(width / static_cast<double>(ns), 0.01) << ns;
        }
    }
    // Past the last edge (275 s) a time counts in the last bucket.
    EXPECT_EQ(latency_bucket_of(1000 * s), latency_bucket_count - 1);
    EXPECT_EQ(latency_bucket_of(UINT64_MAX), latency_bucket_count - 1);
}

TEST(Latency, PercentilesWithinOnePercentAndClampedToWhatWasMeasured) {
    struct Case {
        const char* what;
        std::vector<uint64_t> blocks;
        double fraction;
        uint64_t expected_ns;
        double tolerance;  // relative
    };
    // A bucket's middle lies above its low edge and below its high one.
    const uint32_t bucket = latency_bucket_of(1023 * us);
    const uint64_t low = latency_bucket_low_ns(bucket), high = latency_bucket_high_ns(bucket);
    std::vector<uint64_t> ramp;
    for (uint64_t i = 1; i <= 1000; ++i) ramp.push_back(i * 10 * us);
    const std::vector<Case> cases = {
        {"empty", {}, 0.5, 0, 0},
        {"one block: every percentile is it", {7777 * us}, 0.5, 7777 * us, 0},
        {"one block, p99.9", {7777 * us}, 0.999, 7777 * us, 0},
        {"median of a ramp", ramp, 0.5, 5000 * us, 0.01},
        {"p90 of a ramp", ramp, 0.9, 9000 * us, 0.01},
        {"p99.9 of a ramp", ramp, 0.999, 9990 * us, 0.01},
        {"bottom of a bucket: not above the maximum", {low, low, low}, 1.0, low, 0},
        {"top of a bucket: not below the minimum", {high, high}, 0.0, high, 0},
        {"past the last edge: the maximum", {300 * s, 1 * ms}, 1.0, 300 * s, 0},
    };
    for (const Case& c : cases) {
        auto times = fresh();
        for (size_t i = 0; i < c.blocks.size(); ++i) block_times_add(times.get(), 0, c.blocks[i], i, 0);
        const double got = static_cast<double>(latency_percentile_ns(times->histogram, c.fraction));
        EXPECT_NEAR(got, static_cast<double>(c.expected_ns), c.tolerance * c.expected_ns) << c.what;
    }
}

TEST(Latency, MergingEqualsCountingEverythingInOne) {
    auto a = fresh(), b = fresh(), both = fresh(), merged = fresh();
    for (int64_t i = 0; i < 500; ++i) {
        const uint64_t ns = (i * 7919 % 1000 + 1) * us + (i % 50 == 0 ? 150 * ms + i : 0);
        block_times_add(i % 3 ? a.get() : b.get(), i * ms, ns, i, i % 3 ? 0 : 1);
        block_times_add(both.get(), i * ms, ns, i, i % 3 ? 0 : 1);
    }
    block_times_merge(merged.get(), *a);
    block_times_merge(merged.get(), *b);
    block_times_merge(merged.get(), *fresh());  // an empty worker changes nothing
    EXPECT_EQ(0, std::memcmp(merged->histogram.counts, both->histogram.counts, sizeof both->histogram.counts));
    EXPECT_EQ(merged->histogram.blocks, 500u);
    EXPECT_EQ(merged->histogram.min_ns, both->histogram.min_ns);
    EXPECT_EQ(merged->histogram.max_ns, both->histogram.max_ns);
    EXPECT_EQ(merged->histogram.sum_ns, both->histogram.sum_ns);
    EXPECT_EQ(merged->slowest.block, both->slowest.block);
    EXPECT_EQ(merged->stalls.count, 10u);
    EXPECT_EQ(merged->stalls.total_ns, both->stalls.total_ns);
    EXPECT_EQ(merged->stalls.kept, 10u);
}

TEST(Latency, TheThirtyTwoLongestStallsAreKept) {
    auto one = fresh(), other = fresh(), merged = fresh();
    // 100 stalls in a scrambled order, 100 ms + k ms each, split between two workers.
    for (uint64_t i = 0; i < 100; ++i) {
        const uint64_t k = i * 37 % 100;
        block_times_add(i % 2 ? one.get() : other.get(), k * s, 100 * ms + k * ms, k, i % 2);
    }
    block_times_merge(merged.get(), *one);
    block_times_merge(merged.get(), *other);
    EXPECT_EQ(merged->stalls.count, 100u);
    const std::vector<TimedBlock> longest = stalls_longest_first(merged->stalls);
    ASSERT_EQ(longest.size(), stalls_kept);
    for (uint32_t i = 0; i < stalls_kept; ++i) EXPECT_EQ(longest[i].block, 99 - int64_t(i));
    // A block one nanosecond short of the threshold is no stall; one on it is.
    auto edge = fresh();
    block_times_add(edge.get(), 0, 100 * ms - 1, 0, 0);
    block_times_add(edge.get(), 0, 100 * ms, 1, 0);
    EXPECT_EQ(edge->stalls.count, 1u);
}

TEST(Latency, LinesWordTheFigures) {
    const struct {
        uint64_t ns;
        const char* text;
    } figures[] = {{613 * us, "0.613"}, {9810 * us, "9.81"}, {9996 * us, "10.0"},
                   {31240 * us, "31.2"}, {99960 * us, "100"}, {1503 * ms, "1503"}};
    for (const auto& figure : figures) EXPECT_EQ(format_ms(figure.ns), figure.text) << figure.ns;

    auto times = fresh();
    EXPECT_EQ(format_latency_line(*times, false), "latency per block: no block timed\n");
    EXPECT_EQ(format_stall_line(*times, false), "no stalls of 100 ms or more\n");
    for (int64_t i = 0; i < 1000; ++i) block_times_add(times.get(), 0, 10 * ms, i, 0);
    block_times_add(times.get(), 3 * s + 10 * ms, 1503 * ms, 300, 1);
    block_times_rebase(times.get(), 10 * ms, 2);
    EXPECT_EQ(format_latency_line(*times, false),
              "latency per block: median 10.0 ms, 99 % 10.0 ms, 99.9 % 10.0 ms, max 1503 ms "
              "(thread 1, block 300, at 3.0 s)\n");
    EXPECT_EQ(format_stall_line(*times, true),
              "stalls of 100 ms or more: 1, 1.50 s in all; the longest 1503 ms at 3.0 s (rank 2, thread 1)\n");
}

// A block still in hand when a stopped run ended: a stall of its time so
// far, marked, in no other figure; merged as a rank's only stall.
TEST(Latency, ABlockStillInHandIsAnUnfinishedStallOnly) {
    auto in_hand = fresh();
    block_times_add_unfinished(in_hand.get(), 2 * s, 50 * ms, 9, 0);  // under the threshold: nothing
    block_times_add_unfinished(in_hand.get(), 2 * s, 5100 * ms, 40, 1);
    auto run = fresh();
    block_times_merge(run.get(), *in_hand);
    EXPECT_EQ(run->histogram.blocks, 0u);
    EXPECT_EQ(format_latency_line(*run, false), "latency per block: no block timed\n");
    EXPECT_EQ(format_stall_line(*run, false),
              "stalls of 100 ms or more: 1, 5.10 s in all; the longest 5100 ms at 2.0 s (thread 1, not finished)\n");
    RunRecord record;
    record.times = run.get();
    EXPECT_NE(format_record(record).find("{\"at_s\": 2, \"ms\": 5100, \"thread\": 1, \"block\": 40, "
                                         "\"finished\": false}"),
              std::string::npos);
}

TEST(Record, JsonTextEscapesEveryString) {
    const struct {
        std::string text;
        const char* json;
    } strings[] = {
        {"plain /mnt/ssd/run", "\"plain /mnt/ssd/run\""},
        {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
        {"line\nend\ttab\rcr", "\"line\\nend\\ttab\\rcr\""},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
        {std::string("nul\0in", 6), "\"nul\\u0000in\""},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe\""},
        {"stray \xff byte", "\"stray \\u00ff byte\""},
        {"cut \xe2\x82", "\"cut \\u00e2\\u0082\""},
        {"overlong \xc0\xaf", "\"overlong \\u00c0\\u00af\""},
        {"surrogate \xed\xa0\x80", "\"surrogate \\u00ed\\u00a0\\u0080\""},
    };
    for (const auto& one : strings) EXPECT_EQ(json_string(one.text), one.json);
    EXPECT_EQ(json_string_or_null(""), "null");
    const struct {
        double value;
        int decimals;
        const char* json;
    } numbers[] = {{1.5, 3, "1.5"}, {2.0, 3, "2"}, {0.04133, 4, "0.0413"}, {-0.00001, 3, "0"},
                   {1e300 * 1e300, 3, "null"}, {93.14, 1, "93.1"}};
    for (const auto& n : numbers) EXPECT_EQ(json_number(n.value, n.decimals), n.json) << n.value;
    EXPECT_EQ(json_ms(0, true), "null");
    EXPECT_EQ(json_ms(1503100 * us, false), "1503.1");
}

}  // namespace
