// vorlax-mpi's wear-out as its writers live it: a writer that the deadline
// stopped waits at the wall, then writes on to the count the ranks agreed
// on; any other stop ends it there. Linked against the scripted platform.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "fake_platform.h"
#include "mpi/mpi_writers.h"
#include "platform/platform.h"
#include "writer_thread/writer_thread.h"

namespace {

TEST(Stonewall, MostBlocksAtTheWall) {
    auto outcome = [](int64_t wall_blocks, int64_t blocks) {
        WorkerOutcome o;
        o.wall_blocks = wall_blocks;
        o.blocks = blocks;
        return o;
    };
    const struct {
        const char* what;
        std::vector<WorkerOutcome> outcomes;
        int64_t most;
    } cases[] = {
        {"no writer", {}, 0},
        {"writers at the wall", {outcome(7, -1), outcome(3, -1)}, 7},
        {"one that ended before it wrote the most", {outcome(7, -1), outcome(-1, 9)}, 9},
        {"none reached its loop", {outcome(-1, -1)}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(most_blocks_at_wall(c.outcomes), c.most) << c.what;
}

TEST(Stonewall, AWriterStoppedAtTheDeadlineWritesOnToTheAgreedCount) {
    const struct {
        const char* what;
        StopReason reason;
        int64_t target;
        FakeScript script;
        int64_t blocks;  // in its file at the end
        const char* failure;
    } cases[] = {
        {"on to the count", StopReason::deadline, 5, FakeScript{}, 5, nullptr},
        {"never past its file's size", StopReason::deadline, 40, FakeScript{}, 32, nullptr},
        {"a write fails in the wear-out", StopReason::deadline, 5, FakeScript{0, 0, 3, FakeWrite::failed, 0, EIO}, 3,
         "a write failed"},
        {"another stop ends it at once", StopReason::interrupt, 5, FakeScript{}, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake_reset(c.script);
        RunCounters counters;
        MpiWriters writers;
        const WorkerHook hook = mpi_writer_hook(&writers, 1, false);
        writers.wear_out = signal_create();
        WriterLayout layout{0, "/fake/run_00.BIN", 32, 1, true};  // 32 blocks of 1 KB
        layout.options.hook = &hook;
        layout.options.print_completion = false;
        request_run_stop(c.reason);  // before its first block: it stops at 0
        WriterReport report{};
        std::thread writer([&] { report = write_test_file(layout, &counters); });
        if (c.reason == StopReason::deadline) {
            while (writers.at_wall.load() == 0) sleep_ms(1);
            EXPECT_EQ(fake_log.write_calls, 0);
            EXPECT_EQ(writers.writing_threads.load(), 1);  // at the wall, still writing
            writers.wear_out_blocks.store(c.target);
            withdraw_run_stop(StopReason::deadline);
            signal_set(writers.wear_out);
        }
        writer.join();
        withdraw_run_stop(c.reason);
        const WorkerOutcome& outcome = writers.outcomes[0];
        EXPECT_EQ(report.blocks_written, c.blocks);
        EXPECT_EQ(outcome.blocks, c.blocks);
        EXPECT_EQ(outcome.wall_blocks, c.reason == StopReason::deadline ? 0 : -1);
        EXPECT_STREQ(outcome.failure, c.failure);
        EXPECT_EQ(run_total_kb(counters), static_cast<uint64_t>(c.blocks));
        EXPECT_EQ(writers.writing_threads.load(), 0);
        signal_destroy(writers.wear_out);
    }
}

}  // namespace
