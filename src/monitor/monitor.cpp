#include "monitor/monitor.h"

#include <algorithm>

#include "output/output.h"
#include "platform/platform.h"
#include "progress/progress.h"

uint64_t monitor_system_clock_ms(void*) { return tick_ms(); }

MonitorTotals run_monitor(const MonitorSource& source, uint64_t start_tick, bool line_if_counted,
                          std::vector<SampleRecord>* samples) {
    uint64_t prev_tick = start_tick;
    uint64_t prev_mb = 0;
    uint64_t printed_kb = 0;
    bool printed = false;
    auto print_line = [&](const MonitorTotals& totals) {
        const uint64_t now = source.now_ms(source.context);
        ProgressLine line =
            format_progress(ProgressSample{start_tick, now, prev_tick, totals.total_kb, prev_mb}, source.verb);
        source.print_line(source.context, line.text);
        // A last line in the same millisecond as the one before (workers
        // that ended just after it) is no interval of its own: the record's
        // sample before takes its total.
        if (samples && printed && now == prev_tick && !samples->empty()) {
            samples->back().mb = line.mb;
            samples->back().max_ns = std::max(samples->back().max_ns, totals.interval_max_ns);
        } else if (samples) {
            samples->push_back(SampleRecord{static_cast<double>(now - start_tick) / 1000.0, line.mb,
                                            totals.interval_max_ns});
        }
        prev_mb = line.mb;
        prev_tick = now;
        printed_kb = totals.total_kb;
        printed = true;
    };
    MonitorTotals totals = source.sample(source.context);
    // Workers that all ended before the first test still get their line.
    if (!totals.running && line_if_counted && totals.total_kb > 0) print_line(totals);
    bool deadline_ahead = source.deadline_tick != 0;
    while (totals.running) {
        if (deadline_ahead && source.deadline_tick <= prev_tick + 1000) {
            source.wait_until(source.context, source.deadline_tick);
            if (source.now_ms(source.context) >= source.deadline_tick) {
                request_run_stop(StopReason::deadline);
                deadline_ahead = false;
            }
        }
        source.wait_until(source.context, prev_tick + 1000);
        totals = source.sample(source.context);
        // The end gets a line only for news: not the total the line before
        // held already (the last worker printed its completion and closed
        // its file after that line), nor a first line of nothing (workers
        // that all failed to start, however late the system let them fail).
        if (!totals.running && (printed ? totals.total_kb == printed_kb : totals.total_kb == 0)) break;
        print_line(totals);
    }
    return totals;
}

namespace {

void wait_for_counters(void* context, uint64_t due_tick) {
    auto* counters = static_cast<RunCounters*>(context);
    const uint64_t now = tick_ms();
    if (due_tick > now) signal_wait_ms(counters->all_done, static_cast<uint32_t>(due_tick - now));
}

MonitorTotals sample_counters(void* context) {
    auto* counters = static_cast<RunCounters*>(context);
    MonitorTotals totals;
    totals.running = counters->active_threads.load() != 0;
    // Asked to stop, workers get stop_grace_ms to end their block in hand;
    // then the run ends with what they counted, without them. Stopped by
    // Ctrl-C or SIGTERM, the next line is the last: it waits until the
    // workers have counted out (their completion lines are out) or the
    // grace has passed, so it comes after those lines on every system.
    if (totals.running && run_stop_requested()) {
        uint64_t now_ms = tick_ms();
        if (counters->stop_seen_ms == 0) counters->stop_seen_ms = now_ms;
        const uint64_t grace_end_ms = counters->stop_seen_ms + stop_grace_ms;
        while (run_stop_reason() != StopReason::deadline && totals.running && now_ms < grace_end_ms) {
            signal_wait_ms(counters->all_done, static_cast<uint32_t>(grace_end_ms - now_ms));
            totals.running = counters->active_threads.load() != 0;
            now_ms = tick_ms();
        }
        if (now_ms >= grace_end_ms) totals.running = false;
    }
    totals.total_kb = run_total_kb(*counters);
    totals.interval_max_ns = take_interval_max_ns(counters);
    return totals;
}

void print_to_stdout(void*, const std::string& line) { print_stdout_line(line); }

}  // namespace

MonitorSource local_monitor_source(RunCounters* counters, const char* verb) {
    return MonitorSource{counters, wait_for_counters, sample_counters, print_to_stdout, verb};
}
