// What the worker threads of a run share with the thread that watches them.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

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
    DoneSignal* all_done = nullptr;          // set when active_threads reaches 0
    uint64_t stop_seen_ms = 0;               // the monitor's: when it first saw a stop request (0: not yet)
};

// How long after a stop request the monitor waits for workers still in a
// block (a write to a hung device may never return) before it ends the run
// without them.
constexpr uint64_t stop_grace_ms = 3000;

// Counts one worker out of active_threads, setting all_done when it was the
// last. A worker's last act on shared state: the run may end right after.
void count_out(RunCounters* counters);

// The run-wide stop request: StopReason::none until Ctrl-C, SIGTERM or a
// deadline asks the run to stop. Workers load it (relaxed) once per block
// and stop at the block in hand; they count out as usual.
extern std::atomic<int32_t> run_stop_request;

// Records reason unless a reason is recorded already: the first one stays.
// Lock-free, so a signal handler may call it.
void request_run_stop(StopReason reason);

// Withdraws a stop requested for reason, and only for it, so that workers
// may write on (vorlax-mpi's wear-out after its deadline).
void withdraw_run_stop(StopReason reason);

// The reason recorded, or StopReason::none.
StopReason run_stop_reason();

// True once a stop is requested; the workers' test, once per block.
inline bool run_stop_requested() { return run_stop_request.load(std::memory_order_relaxed) != 0; }
