#include "mpi/mpi_writers.h"

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

}  // namespace

WriterHook mpi_writer_hook(MpiWriters* writers, uint32_t thread_count, bool flush_at_end) {
    writers->writing_threads.store(static_cast<int32_t>(thread_count));
    writers->flush_at_end = flush_at_end;
    writers->outcomes.assign(thread_count, WorkerOutcome{});
    return WriterHook{writers, nullptr, after_last_block};
}

