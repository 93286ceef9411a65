// The once-a-second progress line: pure arithmetic and formatting.
#pragma once

#include <cstdint>
#include <string>

// One look at the run, taken by the monitor loop. Ticks are milliseconds.
struct ProgressSample {
    uint64_t start_tick;  // when the run's clock started
    uint64_t now_tick;    // this sample
    uint64_t prev_tick;   // the previous sample; start_tick for the first
    uint64_t total_kb;    // KB in whole blocks done by all threads
    uint64_t prev_mb;     // MB figure of the previous line; 0 for the first
};

struct ProgressLine {
    std::string text;  // the whole line, line end included
    uint64_t mb;       // whole MB done; the next sample's prev_mb
};

// Whole MB per second over span_ms, truncated; a span of 0 ms counts as 1 ms.
uint64_t rate_mb_per_s(uint64_t mb, uint64_t span_ms);

// "%4d.%03d: %8d MB <verb>, %4d MB/s sustained, %4d MB/S incremental\n"
// from the elapsed seconds and milliseconds, the whole MB done, MB/s since
// the start and MB/s since the previous sample; verb is "written" for
// writers, "read" for readers. Rates are whole MB per second, truncated; an
// interval of 0 ms counts as 1 ms.
ProgressLine format_progress(const ProgressSample& sample, const char* verb = "written");
