// The writer's hook, as vorlax-mpi fills it, behind the workers' start
// gate: the count of writers still writing, the timed flush after the last
// block, the silent completion, the message head and each writer's outcome.
// Linked against the scripted platform in fake_platform.cpp.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fake_platform.h"
#include "mpi/mpi_writers.h"
#include "platform/platform.h"
#include "writer_thread/writer_thread.h"

namespace {

TEST(MpiWriters, HoldsTheWriterWithFileAndBufferThenWritesAndReportsTheOutcome) {
    RunSettings settings;
    settings.path_prefix = "/fake/run_r0002";
    settings.buffer_kb = 32768;  // 32 blocks, 1 GB in all
    fake_reset(FakeScript{});
    RunCounters counters;
    counters.all_done = signal_create();
    counters.active_threads.store(1);
    MpiWriters writers;
    StartGate gate;
    gate.open = signal_create();
    const WorkerHook hook = mpi_writer_hook(&writers, 1, true);
    WorkerJob job{0, &settings, &counters};
    job.options.hook = &hook;
    job.options.gate = &gate;
    job.options.print_completion = false;
    ThreadHandle thread;
    int error = 0;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(thread_start(writer_thread, &job, &thread, &error));
    while (gate.arrived.load() < 1) sleep_ms(1);
    // Counted in arrived after its open and allocation: safe to read here.
    EXPECT_EQ(fake_log.files_open, 1);
    EXPECT_EQ(fake_log.buffers_held, 1);
    EXPECT_EQ(fake_log.write_calls, 0);
    EXPECT_EQ(writers.writing_threads.load(), 1);
    signal_set(gate.open);
    thread_join(thread);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const WorkerOutcome& outcome = writers.outcomes[0];
    EXPECT_EQ(outcome.blocks, 32);
    EXPECT_FALSE(outcome.fell_short);
    EXPECT_EQ(outcome.failure, nullptr);
    EXPECT_NE(outcome.end_tick, 0u);
    EXPECT_EQ(fake_log.syncs, 1);
    EXPECT_EQ(writers.writing_threads.load(), 0);
    EXPECT_EQ(counters.active_threads.load(), 0);
    signal_destroy(gate.open);
    signal_destroy(counters.all_done);
}

// Every way a writer may end passes the hook's last step exactly once, and
// a writer that never reached its loop passes the gate without waiting.
TEST(MpiWriters, EveryEndReachesTheHookOnceWithItsOutcome) {
    const std::string flush_advice =
        "; the blocks may not have reached the disk; look in the kernel's log (journalctl -k or dmesg) for the device's errors";
    const struct {
        const char* what;
        FakeScript script;
        bool flush;
        bool start;  // false: the thread is never started
        WriterResult result;
        int syncs;
        int64_t blocks;
        const char* failure;
        std::string line;
    } cases[] = {
        {"whole, no flush", FakeScript{}, false, true, WriterResult::completed, 0, 3, nullptr, ""},
        {"flush fails", FakeScript{0, 0, -1, FakeWrite::whole, 0, 0, 0, EIO}, true, true,
         WriterResult::flush_failed, 1, 3, "the flush after the last block failed",
         "rank 2: /fake/x_03.BIN: flush after the last block (3) failed: Input/output error" + flush_advice},
        {"cannot create", FakeScript{EACCES}, true, true, WriterResult::open_failed, 0, -1,
         "cannot create its test file",
         "rank 2: /fake/x_03.BIN: cannot create: Permission denied; check that this user may write in /fake"},
        {"no thread", FakeScript{}, true, false, WriterResult::not_started, 0, -1, "cannot start its thread",
         "rank 2: /fake/x_03.BIN: cannot start writer thread 3: Resource temporarily unavailable; "
         "use fewer threads"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake_reset(c.script);
        RunCounters counters;
        MpiWriters writers;
        StartGate gate;  // the gate never opens: only a writer that cannot start may pass it
        const WorkerHook hook = mpi_writer_hook(&writers, 4, c.flush);
        WriterLayout layout{3, "/fake/x_03.BIN", 3, 1, true};
        layout.options.message_head = "rank 2: ";
        layout.options.hook = &hook;
        layout.options.gate = &gate;
        WriterReport report{};
        testing::internal::CaptureStdout();
        if (c.start) {
            // A writer that would wait at the gate is held by no one: open it.
            gate.open = signal_create();
            signal_set(gate.open);
            report = write_test_file(layout, &counters);
            signal_destroy(gate.open);
        } else {
            // As the driver counts out a thread it could not start.
            worker_stopped_before_start(layout, thread_not_started_words, EAGAIN);
            report.result = WriterResult::not_started;
            report.error = EAGAIN;
        }
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(report.result, c.result);
        EXPECT_EQ(fake_log.syncs, c.syncs);
        EXPECT_EQ(describe_writer_failure(layout, report), c.line);
        EXPECT_EQ(writers.writing_threads.load(), 3);
        EXPECT_EQ(gate.arrived.load(), 1);
        const WorkerOutcome& outcome = writers.outcomes[3];
        EXPECT_EQ(outcome.blocks, c.blocks);
        EXPECT_EQ(outcome.fell_short, c.result != WriterResult::completed);
        EXPECT_EQ(outcome.end_tick != 0, c.blocks >= 0);
        EXPECT_STREQ(outcome.failure, c.failure);
        EXPECT_EQ(writers.outcomes[0].blocks, -1);  // the others untouched
    }
}

}  // namespace
