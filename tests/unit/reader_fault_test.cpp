// The reader's accounting when reads fail, are refused, or the file is not
// what the run wrote. Linked against the scripted platform in fake_platform.cpp.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fake_platform.h"
#include "reader_thread/reader_thread.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr int64_t block_count = 300;  // past 256, so the pattern wraps
constexpr uint32_t buffer_kb = 4;
const std::string file_name = "/fake/r_03.BIN";

struct ReadRun {
    ReaderReport report;
    std::string out, line;
    uint64_t total_kb;
};

ReadRun read_with(FakeScript script, bool buffered = true) {
    if (!script.read_file_bytes) script.read_file_bytes = block_count * buffer_kb * 1024;
    fake_reset(script);
    RunCounters counters;
    const ReaderLayout layout{3, file_name, block_count, buffer_kb, buffered};
    CaptureStdout();
    ReadRun run;
    run.report = read_test_file(layout, &counters);
    run.out = GetCapturedStdout();
    run.line = describe_reader_problems(layout, run.report);
    run.total_kb = counters.total_kb_written.load();
    EXPECT_EQ(fake_log.files_open, 0) << "file closed";
    EXPECT_EQ(fake_log.buffers_held, 0) << "buffer released";
    return run;
}

TEST(ReaderFaults, FailedReadsAreCountedAndReadingGoesOnPastThem) {
    for (int64_t at : {int64_t{0}, int64_t{1}, block_count - 1}) {
        SCOPED_TRACE("failed read at block " + std::to_string(at));
        FakeScript script;
        script.failed_reads = {static_cast<uint64_t>(at) * 4096u, 150 * 4096u};
        script.read_error = EIO;
        ReadRun run = read_with(script);
        EXPECT_EQ(run.out, "thread 3 done! 298\n");
        EXPECT_EQ(run.total_kb, 298u * buffer_kb);
        EXPECT_EQ(fake_log.read_calls, block_count);
        EXPECT_EQ(run.report.bad_blocks, 0);
        const std::string first = std::to_string(std::min<int64_t>(at, 150));
        EXPECT_EQ(run.line, "vorlax-read: " + file_name + ": 2 blocks unreadable, the first block " + first +
                                " at byte " + std::to_string(std::stoll(first) * 4096) +
                                ": Input/output error; reading went on past it");
    }
}

TEST(ReaderFaults, RefusedUnbufferedReadStopsWithTheSizeToUse) {
    FakeScript script;
    script.failed_reads = {0};
    script.read_error = fake_refusal_error;
    script.alignment_bytes = 8192;
    ReadRun run = read_with(script, false);
    EXPECT_EQ(run.out, "thread 3 done! 0\n");
    EXPECT_EQ(fake_log.read_calls, 1);
    EXPECT_EQ(run.line, "vorlax-read: " + file_name +
                            ": unbuffered read refused at block 0: Invalid argument; the block size (4 KB) must be a "
                            "whole multiple of the device's sector size (8192 bytes here); use such a block size, or "
                            "mode B");
}

TEST(ReaderFaults, FileOfAnotherBlockSizeIsNamedOnceNotBlockByBlock) {
    FakeScript script;
    script.written_kb = 16;
    ReadRun run = read_with(script);
    EXPECT_EQ(run.report.written_kb, 16u);
    EXPECT_EQ(run.out, "thread 3 done! 2\n") << "reading stops at the first bad block";
    EXPECT_EQ(run.line, "vorlax-read: " + file_name +
                            ": written with 16 KB blocks, not 4 KB (its byte value first changes at byte 16384); "
                            "read it with max-buf-KB 16");
}

TEST(ReaderFaults, MissingFileAndCleanFile) {
    EXPECT_EQ(read_with(FakeScript{ENOENT}).line,
              "vorlax-read: " + file_name + ": cannot open: No such file or directory");
    ReadRun clean = read_with(FakeScript{});
    EXPECT_EQ(clean.line, "");
    EXPECT_EQ(clean.out, "thread 3 done! 300\n");
    EXPECT_EQ(clean.total_kb, 1200u);
}

}  // namespace
