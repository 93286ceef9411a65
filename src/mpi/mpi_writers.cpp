#include "mpi/mpi_writers.h"

#include <algorithm>

namespace {

void after_last_block(void* context, uint32_t thread_index, FileHandle file, WriterReport* report) {
    auto* writers = static_cast<MpiWriters*>(context);
    WorkerOutcome& outcome = writers->outcomes[thread_index];
    const bool loop_reached = file != invalid_file;
    if (loop_reached) {
        outcome.end_tick = tick_ms();
        outcome.blocks = report->blocks_written;
    }
    writers->writing_threads.fetch_sub(1);
    if (loop_reached && writers->flush_at_end) {
        int error = 0;
        const bool flushed = file_sync(file, &error);
        outcome.flush_ms = tick_ms() - outcome.end_tick;
        if (!flushed && report->result == WriterResult::completed) {
            report->result = WriterResult::flush_failed;
            report->error = error;
        }
    }
    outcome.fell_short = report->result != WriterResult::completed;
    outcome.failure = writer_failure_words(report->result);
    outcome.error = report->error;
}

// A writer stopped by the deadline waits at the wall for the count that the
// ranks agree on; a writer stopped for any other reason ends.
int64_t blocks_after_stop(void* context, uint32_t thread_index, int64_t blocks) {
    auto* writers = static_cast<MpiWriters*>(context);
    if (!writers->wear_out || run_stop_reason() != StopReason::deadline) return blocks;
    writers->outcomes[thread_index].wall_blocks = blocks;
    writers->at_wall.fetch_add(1);
    while (!signal_wait_ms(writers->wear_out, 1000)) {
    }
    return writers->wear_out_blocks.load();
}

}  // namespace

int64_t most_blocks_at_wall(const std::vector<WorkerOutcome>& outcomes) {
    int64_t most = 0;
    for (const WorkerOutcome& outcome : outcomes) most = std::max(most, std::max(outcome.wall_blocks, outcome.blocks));
    return most;
}

WriterHook mpi_writer_hook(MpiWriters* writers, uint32_t thread_count, bool flush_at_end) {
    writers->writing_threads.store(static_cast<int32_t>(thread_count));
    writers->flush_at_end = flush_at_end;
    writers->outcomes.assign(thread_count, WorkerOutcome{});
    writers->at_wall.store(0);
    return WriterHook{writers, nullptr, after_last_block, blocks_after_stop};
}

