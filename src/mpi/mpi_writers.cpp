#include "mpi/mpi_writers.h"

#include <algorithm>

namespace {

void after_last_block(void* context, uint32_t thread_index, WorkerEnd* end) {
    auto* writers = static_cast<MpiWriters*>(context);
    WorkerOutcome& outcome = writers->outcomes[thread_index];
    const bool loop_reached = end->file != invalid_file;
    if (loop_reached) {
        outcome.end_tick = tick_ms();
        outcome.blocks = end->blocks;
    }
    writers->writing_threads.fetch_sub(1);
    if (loop_reached && writers->flush_at_end) {
        int error = 0;
        const bool flushed = file_sync(end->file, &error);
        outcome.flush_ms = tick_ms() - outcome.end_tick;
        if (!flushed && !end->failure) {
            end->flush_failed = true;
            end->failure = writer_failure_words(WriterResult::flush_failed);
            end->error = error;
        }
    }
    outcome.fell_short = end->failure != nullptr;
    outcome.failure = end->failure;
    outcome.error = end->error;
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

WorkerHook mpi_writer_hook(MpiWriters* writers, uint32_t thread_count, bool flush_at_end) {
    writers->writing_threads.store(static_cast<int32_t>(thread_count));
    writers->flush_at_end = flush_at_end;
    writers->outcomes.assign(thread_count, WorkerOutcome{});
    writers->at_wall.store(0);
    WorkerHook hook;
    hook.context = writers;
    hook.after_last_block = after_last_block;
    hook.blocks_after_stop = blocks_after_stop;
    return hook;
}

