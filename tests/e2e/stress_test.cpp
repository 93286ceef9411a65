// 99 threads at once into fast sinks: every thread completes, every line is
// whole, and memory stays at one buffer per thread.
#include <gtest/gtest.h>

#include <filesystem>

#include "../support/scratch_dir.h"
#include "bounded_run.h"

namespace {

namespace fs = std::filesystem;

// Peak resident memory allowed beside the buffers: program, stacks, stdio.
constexpr long overhead_kb = 128 * 1024;

void run_stress(int threads, uint32_t buffer_kb, int limit_s) {
#ifdef VORLAX_SANITIZED
    GTEST_SKIP() << "memory figures and 99 GB of fills mean nothing under a sanitizer";
#endif
    ScratchDir scratch;
    const std::string prefix = scratch.file("s");
    for (int thread = 0; thread < threads; ++thread)
        fs::create_symlink("/dev/null", prefix + "_" + two_digits(thread) + ".BIN");
    const int64_t blocks = (int64_t{1} << 20) / buffer_kb;
    ProcessResult result = run_bounded(
        {}, {"B", prefix, std::to_string(buffer_kb), std::to_string(threads), "1"}, scratch.path(), limit_s);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err, "");

    std::vector<std::string> lines = lines_of(result.out);
    ASSERT_GE(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines.front(), "VORLAX: writing buffered " + std::to_string(buffer_kb) + "K buffers in " +
                                 std::to_string(threads) + " threads up to 1 GB each");
    EXPECT_EQ(lines.back(), "DONE!");
    EXPECT_EQ(result.out.back(), '\n');
    // Every line between is a whole progress or completion line.
    const std::string completion = "thread (\\d+) done! " + std::to_string(blocks);
    const std::string progress = " *\\d+\\.\\d{3}: +\\d+ MB written, +\\d+ MB/s sustained, +\\d+ MB/S incremental";
    int completions = count_matching(result.out, completion);
    EXPECT_EQ(completions, threads);
    EXPECT_EQ(completions + count_matching(result.out, progress) + 2, static_cast<int>(lines.size()))
        << result.out;
    for (int thread = 0; thread < threads; ++thread)
        EXPECT_TRUE(has_line(result.out, "thread " + std::to_string(thread) + " done! " + std::to_string(blocks)));

    const long buffers_kb = static_cast<long>(threads) * buffer_kb;
    std::printf("[ figures  ] %d threads x %u KB: peak RSS %ld KB (buffers %ld KB); last line: %s\n", threads,
                buffer_kb, result.peak_rss_kb, buffers_kb, lines[lines.size() - 2].c_str());
    EXPECT_LE(result.peak_rss_kb, buffers_kb + overhead_kb);
}

TEST(Stress, NinetyNineThreadsWithLargestBlocks) { run_stress(99, 32768, 240); }

// 99 GB in 1 KB writes is 10^8 system calls, minutes on a CI machine; a few
// threads show the same per-block path and the same small memory.
TEST(Stress, SmallestBlocks) { run_stress(4, 1, 180); }

}  // namespace
