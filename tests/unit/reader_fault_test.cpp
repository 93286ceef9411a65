// The reader when reads fail or are refused, through the scripted platform
// layer in fake_platform.cpp: its accounting and its line.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fake_platform.h"
#include "reader_thread/reader_thread.h"

namespace {

TEST(ReaderFaults, FailedReadsAreSkippedAndARefusedOneStops) {
    const std::string file = "vorlax-read: /fake/r_03.BIN: ";
    const std::string again = "; reading went on past it; read again to tell a lasting fault from a passing one, "
                              "and look in the kernel's log (journalctl -k or dmesg) for the device's errors";
    const struct {
        std::vector<uint64_t> failed_blocks;
        int error;
        bool buffered;
        const char* done;  // the completion line
        uint64_t total_kb;
        std::string line;
    } cases[] = {
        {{0, 150}, EIO, true, "thread 3 done! 298\n", 298 * 4,
         file + "2 blocks unreadable, the first block 0 at byte 0: Input/output error" + again},
        {{1}, EIO, false, "thread 3 done! 299\n", 299 * 4,
         file + "1 block unreadable: block 1 at byte 4096: Input/output error" + again},
        {{299}, EIO, true, "thread 3 done! 299\n", 299 * 4,
         file + "1 block unreadable: block 299 at byte 1224704: Input/output error" + again},
        {{0}, fake_refusal_error, false, "thread 3 done! 0\n", 0,
         file + "unbuffered read refused at block 0: Invalid argument; the block size (4 KB) must be a whole "
                "multiple of the device's sector size (8192 bytes here); use such a block size, or mode B"},
        {{}, 0, true, "thread 3 done! 300\n", 1200, ""},
    };
    for (const auto& c : cases) for (bool timed : {false, true}) {
        SCOPED_TRACE(c.line + (timed ? ", timed" : ""));
        FakeScript script;
        script.read_file_bytes = 300 * 4096;
        for (uint64_t block : c.failed_blocks) script.failed_reads.push_back(block * 4096);
        script.read_error = c.error;
        script.alignment_bytes = 8192;
        fake_reset(script);
        RunCounters counters;
        BlockTimes times;
        block_times_reset(&times, 1);
        if (timed) counters.slots[3].times = &times;
        const ReaderLayout layout{3, "/fake/r_03.BIN", 300, 4, c.buffered, 1, {"vorlax-read: "}};
        testing::internal::CaptureStdout();
        ReaderReport report = read_test_file(layout, &counters);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.done);
        EXPECT_EQ(run_total_kb(counters), c.total_kb);
        EXPECT_EQ(times.histogram.blocks, timed ? c.total_kb / 4 : 0u) << "whole blocks timed, no failed read";
        EXPECT_EQ(describe_reader_problems(layout, report), c.line);
        EXPECT_EQ(fake_log.files_open, 0) << "file closed";
        EXPECT_EQ(fake_log.buffers_held, 0) << "buffer released";
    }
}

}  // namespace
