#include "writer_thread/writer_thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "../support/scratch_dir.h"
#include "platform/platform.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// What a failed write's line ends with.
const std::string device_advice = "; look in the kernel's log (journalctl -k or dmesg) for the device's errors";

WriterLayout layout_for(const std::string& name, int64_t blocks, uint32_t buffer_kb, bool buffered = true) {
    return WriterLayout{3, name, blocks, buffer_kb, buffered, 0, {"vorlax: "}};
}

TEST(Writer, WritesEveryBlockWithItsPatternAndCountsIt) {
    for (bool buffered : {true, false}) {
        // Unbuffered files go where O_DIRECT is taken (tmpfs refuses it
        // before Linux 6.6).
        ScratchDir scratch(buffered ? ScratchUse::any : ScratchUse::unbuffered);
        if (scratch.path().empty()) {
            std::printf("unbuffered pass skipped: %s\n", scratch.unbuffered_note().c_str());
            continue;
        }
        RunCounters counters;
        std::string name = scratch.file(buffered ? "b_03.BIN" : "u_03.BIN");
        CaptureStdout();
        WriterReport report = write_test_file(layout_for(name, 300, 4, buffered), &counters);
        EXPECT_EQ(GetCapturedStdout(), "thread 3 done! 300\n");
        EXPECT_EQ(report.result, WriterResult::completed);
        EXPECT_EQ(report.blocks_written, 300);
        EXPECT_EQ(run_total_kb(counters), 1200u);
        std::string data = read_whole_file(name);
        ASSERT_EQ(data.size(), 300u * 4096u);
        EXPECT_EQ(first_bad_block(data, 4096), -1);
        EXPECT_EQ(data[257 * 4096], '\x01');  // block 257 wraps to 1
    }
}

TEST(Writer, ExistingFileIsCutToTheNewLength) {
    ScratchDir scratch;
    std::string name = scratch.file("x_03.BIN");
    { std::ofstream(name) << std::string(100000, 'z'); }
    RunCounters counters;
    CaptureStdout();
    write_test_file(layout_for(name, 2, 1), &counters);
    GetCapturedStdout();
    EXPECT_EQ(read_whole_file(name), std::string(1024, '\0') + std::string(1024, '\1'));
}

TEST(Writer, OpenFailureWritesNothingAndPrintsNoCompletionLine) {
    ScratchDir scratch;
    RunCounters counters;
    WriterLayout layout = layout_for(scratch.file("missing/x_03.BIN"), 10, 4);
    CaptureStdout();
    WriterReport report = write_test_file(layout, &counters);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(report.result, WriterResult::open_failed);
    EXPECT_EQ(report.error, ENOENT);
    const std::string prefix = scratch.file("missing/x");
    EXPECT_EQ(describe_writer_failure(layout, report),
              "vorlax: " + layout.name + ": cannot create: No such file or directory; the folder " +
                  scratch.file("missing") + " does not exist: create it, or give a path in a folder that exists "
                  "(the path is a prefix: " + prefix + " gives " + layout.name + ")");
}

TEST(Writer, FailedWriteStopsTheLoopAndCountsNothing) {
    RunCounters counters;
    WriterLayout layout = layout_for("/dev/full", 10, 4);
    CaptureStdout();
    WriterReport report = write_test_file(layout, &counters);
    EXPECT_EQ(GetCapturedStdout(), "thread 3 done! 0\n");
    EXPECT_EQ(report.result, WriterResult::write_failed);
    EXPECT_EQ(report.blocks_written, 0);
    EXPECT_EQ(run_total_kb(counters), 0u);
    EXPECT_EQ(describe_writer_failure(layout, report),
              "vorlax: /dev/full: write failed after 0 blocks: No space left on device; free space, or write less: "
              "fewer threads or GB");
}

TEST(Writer, RefusedBypassIsExplainedWithTheFix) {
    // Character devices refuse O_DIRECT at open, as some file systems do.
    RunCounters counters;
    WriterLayout layout = layout_for("/dev/null", 10, 4, false);
    WriterReport report = write_test_file(layout, &counters);
    ASSERT_EQ(report.result, WriterResult::open_failed);
    EXPECT_EQ(describe_writer_failure(layout, report),
              "vorlax: /dev/null: cannot create for unbuffered writing: Invalid argument; this file system "
              "does not accept writes that bypass the cache, use mode B");
}

TEST(WriterMessages, EachFailureNamesTheFileTheReasonAndTheFix) {
    WriterLayout layout = layout_for("/mnt/x_03.BIN", 100, 3, false);
    const struct {
        WriterReport report;
        const char* text;
    } cases[] = {
        {{WriterResult::buffer_failed, 0, 0, ENOMEM, 0},
         "vorlax: /mnt/x_03.BIN: cannot get a 3 KB write buffer: Cannot allocate memory; use a smaller block "
         "size or fewer threads"},
        {{WriterResult::write_failed, 0, 0, EINVAL, 4096},
         "vorlax: /mnt/x_03.BIN: unbuffered write refused after 0 blocks: Invalid argument; the block size "
         "(3 KB) must be a whole multiple of the device's sector size (4096 bytes here); use such a block "
         "size, or mode B"},
        {{WriterResult::write_failed, 5, 0, EINVAL, 0},
         "vorlax: /mnt/x_03.BIN: unbuffered write refused after 5 blocks: Invalid argument; the block size "
         "(3 KB) must be a whole multiple of the device's sector size; use such a block size, or mode B"},
        {{WriterResult::write_failed, 7, 0, EIO, 0},
         "vorlax: /mnt/x_03.BIN: write failed after 7 blocks: Input/output error"
         "; look in the kernel's log (journalctl -k or dmesg) for the device's errors"},
        {{WriterResult::open_failed, 0, 0, EISDIR, 0},
         "vorlax: /mnt/x_03.BIN: is a folder, not a test file; remove it or give another path prefix"},
        {{WriterResult::write_failed, 1, 0, EIO, 0},
         "vorlax: /mnt/x_03.BIN: write failed after 1 block: Input/output error"
         "; look in the kernel's log (journalctl -k or dmesg) for the device's errors"},
        {{WriterResult::write_short, 1, 1000, 0, 0},
         "vorlax: /mnt/x_03.BIN: write cut short after 1 block (1000 of 3072 bytes written); the disk may "
         "be full or a file size limit reached; free space, or write less: fewer threads or GB"},
        {{WriterResult::write_short, 9, 1000, 0, 0},
         "vorlax: /mnt/x_03.BIN: write cut short after 9 blocks (1000 of 3072 bytes written); the disk may "
         "be full or a file size limit reached; free space, or write less: fewer threads or GB"},
    };
    for (const auto& c : cases) EXPECT_EQ(describe_writer_failure(layout, c.report), c.text);
}

TEST(WriterThread, CountsItselfOutAndSignalsTheLast) {
    ScratchDir scratch;
    std::string prefix = scratch.file("t");
    // A gigabyte into /dev/null: the thread's own path, without the disk.
    ASSERT_EQ(symlink("/dev/null", (prefix + "_00.BIN").c_str()), 0);
    RunSettings settings;
    settings.buffered = true;
    settings.path_prefix = prefix.c_str();
    settings.buffer_kb = 1024;
    settings.max_gb = 1;
    RunCounters counters;
    counters.all_done = signal_create();
    counters.active_threads = 2;
    WorkerJob good{0, &settings, &counters};
    CaptureStdout();
    writer_thread(&good);
    EXPECT_EQ(counters.active_threads.load(), 1);
    EXPECT_FALSE(signal_wait_ms(counters.all_done, 0));

    std::string missing = scratch.file("missing/t");
    RunSettings bad_settings = settings;
    bad_settings.path_prefix = missing.c_str();
    WorkerJob bad{1, &bad_settings, &counters};
    writer_thread(&bad);
    EXPECT_EQ(GetCapturedStdout(), "thread 0 done! 1024\n");
    EXPECT_EQ(counters.active_threads.load(), 0);
    EXPECT_EQ(counters.failed_threads.load(), 1);
    EXPECT_TRUE(signal_wait_ms(counters.all_done, 0));
    signal_destroy(counters.all_done);
}

}  // namespace
