#include "worker/worker.h"

#include "output/output.h"
#include "test_file/test_file.h"

WorkerLayout worker_layout(const WorkerJob& job) {
    const RunSettings& settings = *job.settings;
    WorkerLayout layout{job.thread_index, std::string(), test_file_block_count(settings.max_gb, settings.buffer_kb),
                        settings.buffer_kb, settings.buffered, settings.max_gb, job.options};
    // The prefix was checked against the limit before any thread started.
    if (!test_file_name(settings.path_prefix, job.thread_index, platform_max_path_bytes, &layout.name))
        layout.name.clear();
    return layout;
}

unsigned char* worker_take_buffer(FileHandle file, const WorkerLayout& layout, int* error) {
    auto* buffer = static_cast<unsigned char*>(pages_alloc(block_bytes_of(layout), error));
    if (!buffer) file_close(file);
    return buffer;
}

void worker_close(FileHandle file, unsigned char* buffer, const WorkerLayout& layout, int64_t blocks) {
    if (layout.options.print_completion) print_thread_done(layout.thread_index, blocks);
    pages_free(buffer, block_bytes_of(layout));
    file_close(file);
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

void worker_at_gate(const WorkerLayout& layout) {
    StartGate* gate = layout.options.gate;
    if (!gate) return;
    gate->arrived.fetch_add(1);
    while (!signal_wait_ms(gate->open, 1000)) {
    }
}

void worker_skip_gate(const WorkerLayout& layout) {
    if (layout.options.gate) layout.options.gate->arrived.fetch_add(1);
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
