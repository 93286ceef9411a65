#include "worker/worker.h"

#include "output/output.h"
#include "test_file/test_file.h"

WorkerLayout worker_layout(const WorkerJob& job) {
    const RunSettings& settings = *job.settings;
    WorkerLayout layout{job.thread_index, std::string(), test_file_block_count(settings.max_gb, settings.buffer_kb),
                        settings.buffer_kb, settings.buffered, settings.max_gb, job.options};
    // The prefix was checked against the limit before any thread started.
    if (!test_file_name(settings.path_prefix.c_str(), job.thread_index, platform_max_path_bytes, &layout.name))
        layout.name.clear();
    return layout;
}

void worker_before_loop(const WorkerLayout& layout) {
    if (StartGate* gate = layout.options.gate) {
        gate->arrived.fetch_add(1);
        while (!signal_wait_ms(gate->open, 1000)) {
        }
    }
    const WorkerHook* hook = layout.options.hook;
    if (hook && hook->before_first_block) hook->before_first_block(hook->context, layout.thread_index);
}

void worker_after_loop(const WorkerLayout& layout, WorkerEnd* end) {
    const WorkerHook* hook = layout.options.hook;
    if (hook && hook->after_last_block) hook->after_last_block(hook->context, layout.thread_index, end);
}

int64_t worker_blocks_after_stop(const WorkerLayout& layout, int64_t blocks) {
    const WorkerHook* hook = layout.options.hook;
    return hook && hook->blocks_after_stop ? hook->blocks_after_stop(hook->context, layout.thread_index, blocks)
                                           : blocks;
}

void worker_stopped_before_start(const WorkerLayout& layout, const char* failure, int error) {
    if (layout.options.gate) layout.options.gate->arrived.fetch_add(1);
    WorkerEnd end;
    end.failure = failure;
    end.error = error;
    worker_after_loop(layout, &end);
}

void worker_print_done(const WorkerLayout& layout, int64_t blocks) {
    if (layout.options.print_completion) print_thread_done(layout.thread_index, blocks);
}

void worker_finish(RunCounters* counters, uint32_t thread_index, const char* result, int64_t blocks,
                   const std::string& failure_line) {
    WorkerSlot& slot = counters->slots[thread_index];
    slot.result = result;
    slot.blocks = blocks;
    slot.reason = failure_line;
    if (!failure_line.empty()) {
        print_stderr_line(failure_line + "\n");
        counters->failed_threads.fetch_add(1);
    }
    count_out(counters, thread_index);
}

uint64_t gate_start_clock(StartGate* gate, int32_t workers, void (*between)(void* context), void* context) {
    // A stop request opens the gate too: a worker still opening its file
    // (a FIFO nobody reads, a hung network share) may never arrive, and the
    // monitor must run to end the run after the grace time.
    while (gate->arrived.load() < workers && !run_stop_requested()) sleep_ms(1);
    if (between) between(context);
    const uint64_t start_tick = tick_ms();
    gate->start_ns = tick_ns();
    signal_set(gate->open);
    return start_tick;
}
