// The once-a-second watch over a run, shared by every program: it is told
// how to wait, how to sample the totals and where to print.
#pragma once

#include <cstdint>
#include <string>

#include "monitor/run_counters.h"

// One look at the run.
struct MonitorTotals {
    bool running;       // some worker has not ended yet
    uint64_t total_kb;  // KB in whole blocks; final once running is false
};

struct MonitorSource {
    void* context;
    // Returns at due_tick, or sooner once no worker runs.
    void (*wait_until)(void* context, uint64_t due_tick);
    // Tests whether workers still run, then reads the total (in that order,
    // so a total taken after the last worker ended is final).
    MonitorTotals (*sample)(void* context);
    // Writes one whole line (line end included).
    void (*print_line)(void* context, const std::string& line);
    const char* verb;  // "written" or "read", for the progress line
};

// Prints a progress line at least once a second after start_tick while
// workers run, and one last line, with the final total and time, as soon as
// the last has ended. When none runs at the first test there is no line,
// unless line_if_counted and the total is above 0: then that one last line.
// Returns the last sample.
MonitorTotals run_monitor(const MonitorSource& source, uint64_t start_tick, bool line_if_counted = false);

// A source over the counters of this process: waits on counters->all_done,
// prints to stdout with a flush after each line.
MonitorSource local_monitor_source(RunCounters* counters, const char* verb);

// Writes line to stdout and flushes it, so a pipe gets every line at once.
void print_stdout_line(const std::string& line);

// A worker's completion line, "thread <index> done! <whole blocks>", on
// stdout with a flush.
void print_thread_done(uint32_t thread_index, int64_t blocks);
