#include "monitor/run_counters.h"

#include "platform/platform.h"

void count_out(RunCounters* counters) {
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
