// What the worker threads of a run share with the thread that watches them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "latency/latency.h"

#include "platform/platform.h"

// Workers add to the total once per block: on every system the atomics must
// compile to plain lock-free instructions (cmpxchg8b on i686), never to a
// library call (which on Windows would need a runtime DLL).
static_assert(std::atomic<uint64_t>::is_always_lock_free, "64-bit atomics must be lock-free");
static_assert(std::atomic<int32_t>::is_always_lock_free, "32-bit atomics must be lock-free");

// Most workers a run has (max-threads' upper end).
constexpr uint32_t max_worker_slots = 99;

// What one worker shares, on a cache line of its own: it alone adds to kb,
// once per block, and raises interval_max_ns, while the monitor only reads
// them once a second. The rest is written by the worker before it counts
// itself out (counted_out), and read only after it has: a worker still in
// its block after a stop may be writing them.
struct WorkerSlot {
    alignas(64) std::atomic<uint64_t> kb{0};       // KB in its whole blocks (read, for readers)
    std::atomic<uint64_t> interval_max_ns{0};      // its slowest block since the monitor's last look
    std::atomic<uint64_t> block_start_ticks{0};    // timed: when its latest block began (block clock); 0: none
    BlockTimes* times = nullptr;                   // its blocks' times; null when blocks are not timed
    BlockClockScale clock{0, 0, 0};                // with times: the block clock's scale
    const char* result = "running";                // how it ended: "completed", "write_failed"...; still in a block
    int64_t blocks = 0;                            // its whole blocks
    std::string reason;                            // its line on stderr, if any
    std::atomic<bool> counted_out{false};          // set (release) by count_out, after all of the above
};

// One slot per worker, each on its own cache line; the monitor sums them.
struct RunCounters {
    WorkerSlot slots[max_worker_slots];
    alignas(64) std::atomic<int32_t> active_threads{0};
    std::atomic<int32_t> failed_threads{0};  // workers that fell short
    DoneSignal* all_done = nullptr;          // set when active_threads reaches 0
    uint64_t stop_seen_ms = 0;               // the monitor's: when it first saw a stop request (0: not yet)
};

// How long after a stop request the monitor waits for workers still in a
// block (a write to a hung device may never return) before it ends the run
// without them.
constexpr uint64_t stop_grace_ms = 3000;

// Counts worker thread_index out of active_threads (its slot's counted_out
// set), setting all_done when it was the last. A worker's last act on
// shared state: the run may end right after.
void count_out(RunCounters* counters, uint32_t thread_index);

// Whether the worker of slot has counted out, so that its times, result,
// blocks and reason may be read (acquire).
inline bool slot_counted_out(const WorkerSlot& slot) { return slot.counted_out.load(std::memory_order_acquire); }

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

// Adds one block's KB to slot: a load and a store, as the slot has one writer.
inline void add_block_kb(WorkerSlot* slot, uint32_t kb) {
    slot->kb.store(slot->kb.load(std::memory_order_relaxed) + kb, std::memory_order_relaxed);
}

// Keeps when the block in hand began, on the block clock (timed loops
// only), so that one still in hand when a stopped run ends is known: one
// relaxed store.
inline void note_block_start(WorkerSlot* slot, uint64_t start_ticks) {
    slot->block_start_ticks.store(start_ticks, std::memory_order_relaxed);
}

// Counts one block that began at start_ticks and ended at end_ticks on
// the block clock in the slot's times and its interval maximum, in
// nanoseconds. Only for a slot with times.
inline void note_block_time(WorkerSlot* slot, uint64_t start_ticks, uint64_t end_ticks, int64_t block,
                            uint32_t thread) {
    const uint64_t ticks = end_ticks > start_ticks ? end_ticks - start_ticks : 0;
    const uint64_t ns = block_clock_span_ns(ticks, slot->clock.ns_per_tick_q32);
    block_times_add(slot->times, block_clock_ns(slot->clock, start_ticks), ns, block, thread);
    if (ns > slot->interval_max_ns.load(std::memory_order_relaxed))
        slot->interval_max_ns.store(ns, std::memory_order_relaxed);
}

// The KB of all workers' whole blocks.
uint64_t run_total_kb(const RunCounters& counters);

// The slowest block of any worker since the last call (0: none), and
// starts the next interval.
uint64_t take_interval_max_ns(RunCounters* counters);
