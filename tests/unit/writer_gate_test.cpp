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

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// One writer thread on job with the gate given, run to its end: the gate
// opens only once the writer has reached it; *held_at_gate tells whether
// it had its file and buffer then and had written nothing.
void run_gated_writer(WorkerJob* job, StartGate* gate, bool* held_at_gate) {
    job->counters->active_threads.store(1);
    job->counters->writing_threads.store(1);
    ThreadHandle thread;
    int error = 0;
    ASSERT_TRUE(thread_start(writer_thread, job, &thread, &error));
    gate_wait_arrivals(*gate, 1);
    // The arrival is counted after the open and the allocation: what the
    // writer logged before it is safe to read here.
    *held_at_gate = fake_log.files_open == 1 && fake_log.buffers_held == 1 && fake_log.write_calls == 0;
    signal_set(gate->open);
    thread_join(thread);
}

TEST(WriterGate, HoldsTheWriterWithFileAndBufferThenWritesAndReportsTheOutcome) {
    RunSettings settings;
    settings.path_prefix = "/fake/run_r0002";
    settings.buffer_kb = 32768;  // 32 blocks of 1 GB in all
    settings.buffered = true;
    fake_reset(FakeScript{});
    RunCounters counters;
    counters.all_done = signal_create();
    StartGate gate;
    gate.open = signal_create();
    WorkerJob job{0, &settings, &counters};
    job.gate = &gate;
    job.flush_at_end = true;
    job.print_completion = false;
    bool held = false;
    CaptureStdout();
    run_gated_writer(&job, &gate, &held);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_TRUE(held);
    EXPECT_EQ(job.outcome.blocks, 32);
    EXPECT_FALSE(job.outcome.fell_short);
    EXPECT_NE(job.outcome.end_tick, 0u);
    EXPECT_EQ(fake_log.syncs, 1);
    EXPECT_EQ(counters.writing_threads.load(), 0);
    EXPECT_EQ(counters.active_threads.load(), 0);
    EXPECT_EQ(counters.total_kb_written.load(), 1u << 20);
    signal_destroy(gate.open);
    signal_destroy(counters.all_done);
}

TEST(WriterGate, FlushAfterTheLastBlockAndAWriterThatCannotStart) {
    const struct {
        const char* label;
        FakeScript script;
        bool flush;
        WriterResult result;
        int syncs;
        std::string line;
    } cases[] = {
        {"flushed", FakeScript{}, true, WriterResult::completed, 1, ""},
        {"no flush asked", FakeScript{}, false, WriterResult::completed, 0, ""},
        {"flush fails", FakeScript{0, 0, -1, FakeWrite::whole, 0, 0, 0, EIO}, true, WriterResult::flush_failed, 1,
         "rank 2: /fake/x_03.BIN: flush after the last block (3) failed: Input/output error"},
        {"no file: past the gate at once", FakeScript{ENOENT}, true, WriterResult::open_failed, 0,
         "rank 2: /fake/x_03.BIN: cannot create: No such file or directory"},
    };
    for (const auto& c : cases) {
        fake_reset(c.script);
        RunCounters counters;
        counters.writing_threads.store(1);
        StartGate gate;  // never opened: only the writer that cannot start may pass it
        WriterLayout layout{3, "/fake/x_03.BIN", 3, 1, true};
        if (c.result == WriterResult::open_failed) layout.gate = &gate;
        layout.flush_at_end = c.flush;
        layout.message_head = "rank 2: ";
        CaptureStdout();
        WriterReport report = write_test_file(layout, &counters);
        GetCapturedStdout();
        EXPECT_EQ(report.result, c.result) << c.label;
        EXPECT_EQ(fake_log.syncs, c.syncs) << c.label;
        EXPECT_EQ(describe_writer_failure(layout, report), c.line) << c.label;
        EXPECT_EQ(counters.writing_threads.load(), 0) << c.label;
        EXPECT_EQ(gate.arrived.load(), layout.gate ? 1 : 0) << c.label;
    }
}

}  // namespace
