// The writer's accounting when the platform misbehaves: writes that fail,
// come back short or are refused at the first, second and last block.
// Linked against the scripted platform in fake_platform.cpp.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fake_platform.h"
#include "writer_thread/writer_thread.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr int64_t block_count = 300;  // past 256, so the fill byte wraps
constexpr uint32_t buffer_kb = 3;     // 3072 bytes: not a multiple of a 4096-byte sector
const char* const file_name = "/fake/x_03.BIN";

struct Fault {
    const char* label;
    FakeWrite kind;
    int error;
    bool buffered;
    WriterResult result;
    const char* what;  // the middle of the stderr line, %s for the whole blocks ("1 block")
};

const Fault faults[] = {
    {"short", FakeWrite::short_write, 0, true, WriterResult::write_short,
     ": write cut short after %s (1000 of 3072 bytes written); the disk may be full or a file size "
     "limit reached; free space, or write less: fewer threads or GB"},
    {"failed", FakeWrite::failed, EIO, true, WriterResult::write_failed,
     ": write failed after %s: Input/output error; look in the kernel's log (journalctl -k or dmesg) for the device's errors"},
    {"invalid but buffered", FakeWrite::failed, EINVAL, true, WriterResult::write_failed,
     ": write failed after %s: Invalid argument; look in the kernel's log (journalctl -k or dmesg) for the device's errors"},
    {"refused", FakeWrite::failed, EINVAL, false, WriterResult::write_failed,
     ": unbuffered write refused after %s: Invalid argument; the block size (3 KB) must be a whole "
     "multiple of the device's sector size (4096 bytes here); use such a block size, or mode B"},
};

std::string expected_line(const char* what, int64_t blocks) {
    char middle[400];
    const std::string count = std::to_string(blocks) + (blocks == 1 ? " block" : " blocks");
    std::snprintf(middle, sizeof middle, what, count.c_str());
    return std::string("vorlax: ") + file_name + middle;
}

TEST(WriterFaults, AccountsForWholeBlocksOnlyAtTheFirstSecondAndLastBlock) {
    static_assert(fake_refusal_error == EINVAL, "the fake refuses with the POSIX code");
    for (const Fault& fault : faults) {
        for (int64_t at : {int64_t{0}, int64_t{1}, block_count - 1}) for (bool timed : {false, true}) {
            SCOPED_TRACE(std::string(fault.label) + " at block " + std::to_string(at) + (timed ? ", timed" : ""));
            FakeScript script;
            script.fault_at_write = at;
            script.fault = fault.kind;
            script.short_bytes = 1000;
            script.write_error = fault.error;
            script.alignment_bytes = 4096;
            fake_reset(script);
            RunCounters counters;
            BlockTimes times;
            block_times_reset(&times, 1);
            if (timed) counters.slots[3].times = &times;
            WriterLayout layout{3, file_name, block_count, buffer_kb, fault.buffered, 0, {"vorlax: "}};

            CaptureStdout();
            WriterReport report = write_test_file(layout, &counters);
            EXPECT_EQ(GetCapturedStdout(), "thread 3 done! " + std::to_string(at) + "\n");
            EXPECT_EQ(report.result, fault.result);
            EXPECT_EQ(report.blocks_written, at);
            EXPECT_EQ(run_total_kb(counters), static_cast<uint64_t>(at) * buffer_kb);
            // Timed: the whole blocks, not the faulty write; the slot knows when that one began.
            EXPECT_EQ(times.histogram.blocks, timed ? static_cast<uint64_t>(at) : 0u);
            EXPECT_EQ(counters.slots[3].block_start_ticks.load() != 0, timed);
            EXPECT_EQ(describe_writer_failure(layout, report), expected_line(fault.what, at));

            // One write per block up to the faulty one, each filled with its own byte.
            ASSERT_EQ(fake_log.write_calls, at + 1);
            for (int64_t k = 0; k <= at; ++k) {
                EXPECT_TRUE(fake_log.write_uniform[k]) << "block " << k;
                EXPECT_EQ(fake_log.fill_of_write[k], static_cast<unsigned char>(k & 0xFF)) << "block " << k;
            }
            EXPECT_EQ(fake_log.last_open_buffered, fault.buffered);
            EXPECT_EQ(fake_log.files_open, 0) << "file closed";
            EXPECT_EQ(fake_log.buffers_held, 0) << "buffer released";
        }
    }
}

TEST(WriterFaults, NoFaultWritesEveryBlock) {
    fake_reset(FakeScript{});
    RunCounters counters;
    CaptureStdout();
    WriterReport report = write_test_file(WriterLayout{3, file_name, block_count, buffer_kb, false, 0, {"vorlax: "}}, &counters);
    EXPECT_EQ(GetCapturedStdout(), "thread 3 done! 300\n");
    EXPECT_EQ(report.result, WriterResult::completed);
    EXPECT_EQ(run_total_kb(counters), 900u);
    EXPECT_EQ(fake_log.write_calls, block_count);
}

TEST(WriterFaults, RefusedOpenAndMissingBufferLeaveNoCompletionLine) {
    const struct {
        const char* label;
        FakeScript script;
        bool buffered;
        WriterResult result;
        std::string line;
    } cases[] = {
        {"open refused", FakeScript{fake_refusal_error}, false, WriterResult::open_failed,
         std::string("vorlax: ") + file_name +
             ": cannot create for unbuffered writing: Invalid argument; this file system does not accept "
             "writes that bypass the cache, use mode B"},
        {"open denied", FakeScript{EACCES}, true, WriterResult::open_failed,
         std::string("vorlax: ") + file_name + ": cannot create: Permission denied; check that this user may write in /fake"},
        {"no buffer", FakeScript{0, ENOMEM}, false, WriterResult::buffer_failed,
         std::string("vorlax: ") + file_name +
             ": cannot get a 3 KB write buffer: Cannot allocate memory; use a smaller block size or fewer "
             "threads"},
    };
    for (const auto& c : cases) {
        fake_reset(c.script);
        RunCounters counters;
        WriterLayout layout{3, file_name, block_count, buffer_kb, c.buffered, 0, {"vorlax: "}};
        CaptureStdout();
        WriterReport report = write_test_file(layout, &counters);
        EXPECT_EQ(GetCapturedStdout(), "") << c.label;
        EXPECT_EQ(report.result, c.result) << c.label;
        EXPECT_EQ(report.blocks_written, 0) << c.label;
        EXPECT_EQ(fake_log.write_calls, 0) << c.label;
        EXPECT_EQ(fake_log.files_open, 0) << c.label << ": file closed";
        EXPECT_EQ(describe_writer_failure(layout, report), c.line) << c.label;
    }
}

}  // namespace
