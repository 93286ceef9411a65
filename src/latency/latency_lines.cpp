#include "latency/latency_lines.h"

#include "output/output.h"

namespace {

double to_ms(uint64_t ns) { return static_cast<double>(ns) / 1e6; }
double to_s(uint64_t ns) { return static_cast<double>(ns) / 1e9; }

std::string who(const TimedBlock& block, bool with_rank) {
    std::string text = with_rank ? format_text("rank %u, ", block.rank) : std::string();
    return text + format_text("thread %u", block.thread);
}

}  // namespace

std::string format_ms(uint64_t ns) {
    const double ms = to_ms(ns);
    // Rounded as printf rounds: 9.995 becomes "10.0", not "10.00".
    if (ms < 0.9995) return format_text("%.3f", ms);
    if (ms < 9.995) return format_text("%.2f", ms);
    if (ms < 99.95) return format_text("%.1f", ms);
    return format_text("%.0f", ms);
}

std::string format_latency_line(const BlockTimes& times, bool with_rank) {
    const LatencyHistogram& h = times.histogram;
    if (h.blocks == 0) return "latency per block: no block timed\n";
    const TimedBlock& slowest = times.slowest;
    return "latency per block: median " + format_ms(latency_percentile_ns(h, 0.5)) + " ms, 99 % " +
           format_ms(latency_percentile_ns(h, 0.99)) + " ms, 99.9 % " +
           format_ms(latency_percentile_ns(h, 0.999)) + " ms, max " + format_ms(h.max_ns) + " ms (" +
           who(slowest, with_rank) + format_text(", block %lld, at %.1f s)\n", static_cast<long long>(slowest.block),
                                                 to_s(slowest.start_ns));
}

std::string format_stall_line(const BlockTimes& times, bool with_rank) {
    const std::string threshold = format_ms(times.stall_ns) + " ms or more";
    const StallList& stalls = times.stalls;
    if (stalls.count == 0) return "no stalls of " + threshold + "\n";
    const TimedBlock longest = stalls_longest_first(stalls).front();
    return "stalls of " + threshold + format_text(": %llu, %.2f s in all; the longest ",
                                                  static_cast<unsigned long long>(stalls.count),
                                                  to_s(stalls.total_ns)) +
           format_ms(longest.ns) + format_text(" ms at %.1f s (", to_s(longest.start_ns)) +
           who(longest, with_rank) + (longest.unfinished ? ", not finished" : "") + ")\n";
}
