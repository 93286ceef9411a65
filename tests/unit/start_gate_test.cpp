// The start gate of the workers layer, as every driver uses it, on a system
// whose thread start is slow: the first workers are long ready before the
// last one starts, and still no block may be counted before the clock.
// Linked against the scripted platform in fake_platform.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "fake_platform.h"
#include "platform/platform.h"
#include "reader_thread/reader_thread.h"
#include "writer_thread/writer_thread.h"

namespace {

// What the driver's step between "all arrived" and "open" saw.
struct AtClock {
    RunCounters* counters;
    uint64_t kb_counted = 1;
    int files_open = -1, buffers_held = -1;
};

void look_at_clock(void* raw) {
    auto* seen = static_cast<AtClock*>(raw);
    seen->kb_counted = run_total_kb(*seen->counters);
    seen->files_open = fake_log.files_open;
    seen->buffers_held = fake_log.buffers_held;
}

TEST(StartGate, NoBlockIsCountedBeforeTheClockStarts) {
    constexpr uint32_t workers = 3;
    const struct {
        const char* what;
        ThreadRoutine routine;
    } cases[] = {{"writers", writer_thread}, {"readers", reader_thread}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunSettings settings;
        settings.path_prefix = "/fake/g_";
        settings.buffer_kb = 32768;  // 32 blocks a file
        settings.thread_count = workers;
        FakeScript script;
        script.read_file_bytes = uint64_t{1} << 30;
        script.thread_start_delay_ms = 100;  // the first worker is ready long before the last starts
        fake_reset(script);
        RunCounters counters;
        counters.all_done = signal_create();
        counters.active_threads.store(workers);
        StartGate gate;
        gate.open = signal_create();
        std::vector<WorkerJob> jobs(workers, WorkerJob{0, &settings, &counters});
        std::vector<ThreadHandle> threads(workers);
        testing::internal::CaptureStdout();
        for (uint32_t i = 0; i < workers; ++i) {
            jobs[i].thread_index = i;
            jobs[i].options.gate = &gate;
            int error = 0;
            ASSERT_TRUE(thread_start(c.routine, &jobs[i], &threads[i], &error));
        }
        AtClock seen{&counters};
        gate_start_clock(&gate, workers, look_at_clock, &seen);
        for (ThreadHandle thread : threads) thread_join(thread);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(seen.kb_counted, 0u);
        EXPECT_EQ(seen.files_open, static_cast<int>(workers));  // every file and buffer in hand
        EXPECT_EQ(seen.buffers_held, static_cast<int>(workers));
        EXPECT_EQ(run_total_kb(counters), uint64_t{workers} << 20);
        EXPECT_EQ(counters.failed_threads.load(), 0);
        signal_destroy(gate.open);
        signal_destroy(counters.all_done);
    }
}

// What a hook's steps saw of one worker.
struct HookSeen {
    int before = 0, after = 0;
    bool file_open_after = false, buffer_held_after = false;
    int64_t blocks = -1;
    const char* failure = nullptr;
};

void seen_before(void* raw, uint32_t) { ++static_cast<HookSeen*>(raw)->before; }

void seen_after(void* raw, uint32_t, WorkerEnd* end) {
    auto* seen = static_cast<HookSeen*>(raw);
    ++seen->after;
    seen->file_open_after = end->file != invalid_file && fake_log.files_open == 1;
    seen->buffer_held_after = fake_log.buffers_held == 1;
    seen->blocks = end->blocks;
    seen->failure = end->failure;
}

// The skeleton's one hook runs around the block loop of writers and readers
// alike: the first step once past the gate, the last once with file and
// buffer still held; a worker that cannot open its file skips the first
// and tells the last why, and the owners release file and buffer on both
// paths.
TEST(WorkerHook, StepsRunAroundTheLoopOfWritersAndReaders) {
    const struct {
        const char* what;
        ThreadRoutine routine;
        int open_error;
        int before;
        bool file_open_after;
        int64_t blocks;
        const char* failure;
    } cases[] = {
        {"writer", writer_thread, 0, 1, true, 32, nullptr},
        {"reader", reader_thread, 0, 1, true, 32, nullptr},
        {"writer without its file", writer_thread, 13, 0, false, 0, "cannot create its test file"},
        {"reader without its file", reader_thread, 13, 0, false, 0, "open_failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunSettings settings;
        settings.path_prefix = "/fake/h_";
        settings.buffer_kb = 32768;  // 32 blocks
        FakeScript script;
        script.read_file_bytes = uint64_t{1} << 30;
        script.open_error = c.open_error;
        fake_reset(script);
        RunCounters counters;
        counters.active_threads.store(1);
        const OwnedSignal all_done;
        counters.all_done = all_done.signal;
        HookSeen seen;
        WorkerHook hook;
        hook.context = &seen;
        hook.before_first_block = seen_before;
        hook.after_last_block = seen_after;
        WorkerJob job{0, &settings, &counters};
        job.options.hook = &hook;
        job.options.print_completion = false;
        testing::internal::CaptureStderr();  // the failure lines
        c.routine(&job);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(seen.before, c.before);
        EXPECT_EQ(seen.after, 1);
        EXPECT_EQ(seen.file_open_after, c.file_open_after);
        EXPECT_EQ(seen.buffer_held_after, c.file_open_after);
        EXPECT_EQ(seen.blocks, c.blocks);
        EXPECT_STREQ(seen.failure, c.failure);
        EXPECT_EQ(fake_log.files_open, 0);
        EXPECT_EQ(fake_log.buffers_held, 0);
    }
}

}  // namespace
