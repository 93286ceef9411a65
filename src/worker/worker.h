// What writer and reader share: the job a driver hands a worker thread, the
// layout of its test file, and the steps around its block loop.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "monitor/run_counters.h"
#include "platform/platform.h"
#include "settings/settings.h"

struct WriterHook;  // writer_thread.h

// The start gate of a run: every worker, file and buffer in hand, waits
// here until the driver opens it, so that no block is done before the
// run's clock starts. The driver:
//     StartGate gate;  gate.open = signal_create();
//     options.gate = &gate;  ...start the workers...
//     const uint64_t start_tick = gate_start_clock(&gate, thread_count);
// and a worker that ends before the gate (no thread, file or buffer) is
// counted as arrived, so the driver never waits for it.
struct StartGate {
    std::atomic<int32_t> arrived{0};  // workers waiting, or ended before they could
    DoneSignal* open = nullptr;       // set once by the driver: go
    uint64_t start_ns = 0;            // tick_ns() at the start tick, for the blocks' start times
};

// What a driver sets for every worker of a run.
struct WorkerOptions {
    const char* message_head = "";          // "<program>: ", heads its line on stderr
    bool print_completion = true;           // "thread N done! K" on stdout
    const WriterHook* writer_hook = nullptr;  // writers only: steps around the block loop
    StartGate* gate = nullptr;              // held there before the first block; none: no wait
};

// The start argument of one worker thread (a writer or a reader).
struct WorkerJob {
    uint32_t thread_index;
    const RunSettings* settings;
    RunCounters* counters;
    WorkerOptions options{};
};

// One test file as a worker takes it on: what the run's settings say it is.
struct WorkerLayout {
    uint32_t thread_index;
    std::string name;  // empty when it would pass the system's limit
    int64_t block_count;
    uint32_t buffer_kb;
    bool buffered;
    uint32_t max_gb = 0;  // the run's size per file, which block_count comes from
    WorkerOptions options{};
};

// The layout of job's test file, from the job's settings and options.
WorkerLayout worker_layout(const WorkerJob& job);

// Bytes in one block of layout.
inline size_t block_bytes_of(const WorkerLayout& layout) { return static_cast<size_t>(layout.buffer_kb) * 1024u; }

// Takes the block buffer of a worker whose file is open; on failure closes
// file, sets *error and returns null.
unsigned char* worker_take_buffer(FileHandle file, const WorkerLayout& layout, int* error);

// After the block loop: prints the completion line (blocks whole blocks)
// when the layout asks for it, then frees buffer and closes file.
void worker_close(FileHandle file, unsigned char* buffer, const WorkerLayout& layout, int64_t blocks);

// A worker's last steps: keeps result (its name in the run record), its
// whole blocks and failure_line in its slot, prints failure_line (unless
// empty) on stderr and counts the worker in failed_threads, then counts it
// out of active_threads, setting all_done when it was the last. After this
// the run may end.
void worker_finish(RunCounters* counters, uint32_t thread_index, const char* result, int64_t blocks,
                   const std::string& failure_line);

// ---- The start gate ---------------------------------------------------------

// A worker with file and buffer in hand, just before its first block:
// counts itself in at layout's gate (if any) and waits until it opens.
void worker_at_gate(const WorkerLayout& layout);

// A worker that ends before its first block (no thread, file or buffer):
// counts itself in at layout's gate (if any) without waiting.
void worker_skip_gate(const WorkerLayout& layout);

// The driver, after starting workers threads: waits until every one of
// them has reached the gate or skipped it, or until a stop is requested
// (run_stop_requested: a worker may hang in its open), runs between(context) (if
// given: vorlax-mpi's barrier across ranks), takes the run's start tick,
// opens the gate and returns the tick. No block is counted before it.
uint64_t gate_start_clock(StartGate* gate, int32_t workers, void (*between)(void* context) = nullptr,
                          void* context = nullptr);
