// What the worker threads of a run share with the thread that watches them.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/settings.h"

struct DoneSignal;

// Workers add to the total once per block: on every system the atomics must
// compile to plain lock-free instructions (cmpxchg8b on i686), never to a
// library call (which on Windows would need a runtime DLL).
static_assert(std::atomic<uint64_t>::is_always_lock_free, "64-bit atomics must be lock-free");
static_assert(std::atomic<int32_t>::is_always_lock_free, "32-bit atomics must be lock-free");

// The total sits on a cache line of its own: workers add to it once per
// block, while the monitor only reads it once a second.
struct RunCounters {
    alignas(64) std::atomic<uint64_t> total_kb_written{0};  // KB in whole blocks of all workers (read, for readers)
    alignas(64) std::atomic<int32_t> active_threads{0};
    std::atomic<int32_t> failed_threads{0};  // workers that fell short
    // Workers not yet past their last block; drops before active_threads
    // where a worker flushes its file after writing.
    std::atomic<int32_t> writing_threads{0};
    DoneSignal* all_done = nullptr;          // set when active_threads reaches 0
};

// Holds workers back, file and buffer in hand, until the driver opens it, so
// that every worker (of every process of a run) starts at once.
struct StartGate {
    std::atomic<int32_t> arrived{0};  // workers waiting, or ended before they could
    DoneSignal* open = nullptr;       // set once by the driver: go
};

// Counts one worker out of active_threads, setting all_done when it was the
// last. A worker's last act on shared state: the run may end right after.
void count_out(RunCounters* counters);

// Counts one worker out of writing_threads: once, when it has written its
// last block or cannot write at all.
void end_writing(RunCounters* counters);

// A worker at the gate: counts itself in arrived, then waits for it to open.
void gate_pass(StartGate* gate);
// A worker that ended before the gate (no file, no buffer): counts itself in
// arrived without waiting. Both do nothing when gate is null.
void gate_skip(StartGate* gate);
// The driver: waits until arrivals workers have reached (or skipped) the gate.
void gate_wait_arrivals(const StartGate& gate, int32_t arrivals);

// What a worker did, filled by it and read by the driver after joining it.
struct WorkerOutcome {
    int64_t blocks = -1;       // whole blocks written; -1 when the loop was not reached
    bool fell_short = false;   // its file, buffer, a write or the flush failed
    uint64_t end_tick = 0;     // tick_ms() after its last block (0: loop not reached)
    uint64_t flush_ms = 0;     // time its flush after the last block took
    const char* failure = nullptr;  // why it fell short, in a few words ("cannot create its test file")
    int error = 0;                  // the system's code for it, or 0
};

// The start argument of one worker thread (a writer or a reader). The
// options after counters are what a driver other than vorlax's may set.
struct WorkerJob {
    uint32_t thread_index;
    const RunSettings* settings;
    RunCounters* counters;
    StartGate* gate = nullptr;              // wait here before the first block
    bool flush_at_end = false;              // flush the file after its last block
    bool print_completion = true;           // "thread N done! K" on stdout
    const char* message_head = "vorlax: ";  // heads its failure line on stderr
    WorkerOutcome outcome{};
};
