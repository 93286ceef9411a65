// The once-a-second watch over a run, shared by every program: it is told
// how to wait, how to sample the totals, where to print and what time it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/run_counters.h"
#include "record/record.h"

// One look at the run.
struct MonitorTotals {
    bool running;       // some worker has not ended yet
    uint64_t total_kb;  // KB in whole blocks; final once running is false
    uint64_t interval_max_ns = 0;  // the slowest block since the last look; 0: none, or not timed
};

// The clock a source reads unless it names its own: tick_ms().
uint64_t monitor_system_clock_ms(void* context);

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
    // Reads the clock the lines' times come from, in milliseconds (the
    // clock of start_tick and of wait_until's due ticks).
    uint64_t (*now_ms)(void* context) = monitor_system_clock_ms;
    // A run for a fixed time: the tick at which the monitor asks the workers
    // to stop (StopReason::deadline); 0 for none.
    uint64_t deadline_tick = 0;
};

// Prints a progress line at least once a second after start_tick while
// workers run, and one last line, with the final total and time, as soon as
// the last has ended, unless the line before holds that total already, or
// no line came before and the total is 0. When none runs at the first test
// there is no line, unless line_if_counted and the total is above 0: then
// that one last line.
// With a deadline, it wakes at the deadline itself, between two lines, and
// requests the stop there, so workers stop within one block of it.
// Returns the last sample. With samples, adds one for each line printed; a
// last line in the same millisecond as the line before updates its sample.
MonitorTotals run_monitor(const MonitorSource& source, uint64_t start_tick, bool line_if_counted = false,
                          std::vector<SampleRecord>* samples = nullptr);

// A source over the counters of this process: waits on counters->all_done,
// prints to stdout with a flush after each line. Once a stop is requested
// (run_stop_requested), workers still running stop_grace_ms after the
// monitor first saw it count as ended: the run ends without them. After
// Ctrl-C or SIGTERM (not a deadline) a sample waits for that end, so the
// last line follows the workers' completion lines.
MonitorSource local_monitor_source(RunCounters* counters, const char* verb);
