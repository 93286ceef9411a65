#include "monitor/run_counters.h"

#include "platform/platform.h"

void count_out(RunCounters* counters, uint32_t thread_index) {
    counters->slots[thread_index].counted_out.store(true, std::memory_order_release);
    if (counters->active_threads.fetch_sub(1) == 1) signal_set(counters->all_done);
}

std::atomic<int32_t> run_stop_request{0};

void request_run_stop(StopReason reason) {
    int32_t none = 0;
    run_stop_request.compare_exchange_strong(none, static_cast<int32_t>(reason));
}

void withdraw_run_stop(StopReason reason) {
    int32_t expected = static_cast<int32_t>(reason);
    run_stop_request.compare_exchange_strong(expected, 0);
}

StopReason run_stop_reason() { return static_cast<StopReason>(run_stop_request.load()); }

uint64_t run_total_kb(const RunCounters& counters) {
    uint64_t total = 0;
    for (const WorkerSlot& slot : counters.slots) total += slot.kb.load(std::memory_order_relaxed);
    return total;
}

uint64_t take_interval_max_ns(RunCounters* counters) {
    uint64_t slowest = 0;
    for (WorkerSlot& slot : counters->slots) {
        const uint64_t ns = slot.interval_max_ns.exchange(0, std::memory_order_relaxed);
        if (ns > slowest) slowest = ns;
    }
    return slowest;
}
