#include "progress/progress.h"

#include <cinttypes>
#include <cstdio>

#include "output/output.h"

uint64_t rate_mb_per_s(uint64_t mb, uint64_t span_ms) { return mb * 1000u / (span_ms ? span_ms : 1u); }

ProgressLine format_progress(const ProgressSample& sample, const char* verb) {
    const uint64_t elapsed_ms = sample.now_tick - sample.start_tick;
    const uint64_t mb = sample.total_kb >> 10;
    const uint64_t sustained = rate_mb_per_s(mb, elapsed_ms);
    const uint64_t fresh_mb = mb >= sample.prev_mb ? mb - sample.prev_mb : 0;
    const uint64_t incremental = rate_mb_per_s(fresh_mb, sample.now_tick - sample.prev_tick);

    char text[160];
    std::snprintf(text, sizeof text,
                  "%s: %8" PRIu64 " MB %s, %4" PRIu64 " MB/s sustained, %4" PRIu64
                  " MB/S incremental\n",
                  thousandths_text(elapsed_ms, 4).c_str(), mb, verb, sustained, incremental);
    return ProgressLine{text, mb};
}
