#include "monitor/run_counters.h"

#include "platform/platform.h"

void count_out(RunCounters* counters) {
    if (counters->active_threads.fetch_sub(1) == 1) signal_set(counters->all_done);
}
