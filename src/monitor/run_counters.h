// What the worker threads of a run share with the thread that watches them.
#pragma once

#include <atomic>
#include <cstdint>

struct DoneSignal;

// The total sits on a cache line of its own: workers add to it once per
// block, while the monitor only reads it once a second.
struct RunCounters {
    alignas(64) std::atomic<uint64_t> total_kb_written{0};  // KB in whole blocks of all workers (read, for readers)
    alignas(64) std::atomic<int32_t> active_threads{0};
    std::atomic<int32_t> failed_threads{0};  // workers that fell short
    DoneSignal* all_done = nullptr;          // set when active_threads reaches 0
};

// Counts one worker out of active_threads, setting all_done when it was the
// last. A worker's last act on shared state: the run may end right after.
void count_out(RunCounters* counters);
