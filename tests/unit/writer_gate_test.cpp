// The writer's options for runs over many processes: the start gate, the
// flush after the last block, the silent completion and the message head.
// Linked against the scripted platform in fake_platform.cpp.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fake_platform.h"
#include "platform/platform.h"
#include "writer_thread/writer_thread.h"

namespace {

TEST(WriterGate, HoldsTheWriterWithFileAndBufferThenWritesAndReportsTheOutcome) {
    RunSettings settings;
    settings.path_prefix = "/fake/run_r0002";
    settings.buffer_kb = 32768;  // 32 blocks, 1 GB in all
    fake_reset(FakeScript{});
    RunCounters counters;
    counters.all_done = signal_create();
    counters.active_threads.store(1);
    counters.writing_threads.store(1);
    StartGate gate;
    gate.open = signal_create();
    WorkerJob job{0, &settings, &counters};
    job.gate = &gate;
    job.flush_at_end = true;
    job.print_completion = false;
    ThreadHandle thread;
    int error = 0;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(thread_start(writer_thread, &job, &thread, &error));
    gate_wait_arrivals(gate, 1);
    // Counted in arrived after its open and allocation: safe to read here.
    EXPECT_EQ(fake_log.files_open, 1);
    EXPECT_EQ(fake_log.buffers_held, 1);
    EXPECT_EQ(fake_log.write_calls, 0);
    signal_set(gate.open);
    thread_join(thread);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(job.outcome.blocks, 32);
    EXPECT_FALSE(job.outcome.fell_short);
    EXPECT_NE(job.outcome.end_tick, 0u);
    EXPECT_EQ(fake_log.syncs, 1);
    EXPECT_EQ(counters.writing_threads.load(), 0);
    EXPECT_EQ(counters.active_threads.load(), 0);
    signal_destroy(gate.open);
    signal_destroy(counters.all_done);
}

TEST(WriterGate, FlushAfterTheLastBlockAndAWriterThatCannotStart) {
    const struct {
        FakeScript script;
        bool flush;
        WriterResult result;
        int syncs;
        std::string line;
    } cases[] = {
        {FakeScript{}, false, WriterResult::completed, 0, ""},
        {FakeScript{0, 0, -1, FakeWrite::whole, 0, 0, 0, EIO}, true, WriterResult::flush_failed, 1,
         "rank 2: /fake/x_03.BIN: flush after the last block (3) failed: Input/output error"},
        {FakeScript{EACCES}, true, WriterResult::open_failed, 0,
         "rank 2: /fake/x_03.BIN: cannot create: Permission denied"},
    };
    for (const auto& c : cases) {
        fake_reset(c.script);
        RunCounters counters;
        counters.writing_threads.store(1);
        StartGate gate;  // never opened: only a writer that cannot start may pass it
        WriterLayout layout{3, "/fake/x_03.BIN", 3, 1, true};
        if (c.result == WriterResult::open_failed) layout.gate = &gate;
        layout.flush_at_end = c.flush;
        layout.message_head = "rank 2: ";
        testing::internal::CaptureStdout();
        WriterReport report = write_test_file(layout, &counters);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(report.result, c.result) << c.line;
        EXPECT_EQ(fake_log.syncs, c.syncs) << c.line;
        EXPECT_EQ(describe_writer_failure(layout, report), c.line);
        EXPECT_EQ(counters.writing_threads.load(), 0) << c.line;
        EXPECT_EQ(gate.arrived.load(), layout.gate ? 1 : 0) << c.line;
    }
}

}  // namespace
