#include "mpi/mpi_writers.h"

namespace {

void before_first_block(void* context, uint32_t) { gate_pass(&static_cast<MpiWriters*>(context)->gate); }

void after_last_block(void* context, uint32_t thread_index, FileHandle file, WriterReport* report) {
    auto* writers = static_cast<MpiWriters*>(context);
    WorkerOutcome& outcome = writers->outcomes[thread_index];
    const bool loop_reached = file != invalid_file;
    if (loop_reached) {
        outcome.end_tick = tick_ms();
        outcome.blocks = report->blocks_written;
    } else {
        gate_skip(&writers->gate);
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
    writers->gate.arrived.store(0);
    writers->writing_threads.store(static_cast<int32_t>(thread_count));
    writers->flush_at_end = flush_at_end;
    writers->outcomes.assign(thread_count, WorkerOutcome{});
    return WriterHook{writers, before_first_block, after_last_block};
}

void gate_pass(StartGate* gate) {
    gate->arrived.fetch_add(1);
    while (!signal_wait_ms(gate->open, 1000)) {
    }
}

void gate_skip(StartGate* gate) { gate->arrived.fetch_add(1); }

void gate_wait_arrivals(const StartGate& gate, int32_t arrivals) {
    while (gate.arrived.load() < arrivals) sleep_ms(1);
}
