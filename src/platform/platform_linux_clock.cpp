// Linux block clock: the time-stamp counter (rdtsc) where it keeps
// time, scaled against CLOCK_MONOTONIC; else CLOCK_MONOTONIC itself.
#include <string>

#include "platform/platform_linux_internal.h"

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace {

#if defined(__x86_64__)
// Set once by block_clock_start, before any worker reads the clock.
bool use_tsc = false;

struct ClockPair {
    uint64_t ticks;
    uint64_t ns;     // the middle of the CLOCK_MONOTONIC reads around ticks
    uint64_t width;  // the time between those reads
};

// Ticks and tick_ns() read together: of 8 tries, the one whose two
// clock reads lie closest around the counter's (a try the scheduler
// interrupted is wide).
ClockPair clock_pair() {
    ClockPair best{0, 0, UINT64_MAX};
    for (int i = 0; i < 8; ++i) {
        const uint64_t before = tick_ns();
        const uint64_t ticks = __rdtsc();
        const uint64_t after = tick_ns();
        if (after - before < best.width) best = ClockPair{ticks, before + (after - before) / 2, after - before};
    }
    return best;
}

// The counter's scale over 20 ms, or false when the reads were too
// disturbed for 1 part in 10^5 (three tries) or the counter went back.
bool tsc_scale(BlockClockScale* scale) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ClockPair first = clock_pair();
        sleep_ms(20);
        const ClockPair last = clock_pair();
        const uint64_t ns = last.ns - first.ns;
        if (last.ticks <= first.ticks || ns == 0 || ns >= (uint64_t(1) << 32)) continue;
        if ((first.width + last.width) * 100000u > ns) continue;
        *scale = BlockClockScale{last.ticks, last.ns, (ns << 32) / (last.ticks - first.ticks)};
        return true;
    }
    return false;
}
#endif

}  // namespace

bool tsc_keeps_time(const std::string& cpuinfo, const std::string& clocksource) {
    const size_t flags = cpuinfo.find("\nflags");
    if (flags == std::string::npos) return false;
    const std::string line = cpuinfo.substr(flags, cpuinfo.find('\n', flags + 1) - flags) + " ";
    return line.find(" constant_tsc ") != std::string::npos && line.find(" nonstop_tsc ") != std::string::npos &&
           clocksource.compare(0, clocksource.find_last_not_of(" \n") + 1, "tsc") == 0;
}

BlockClockScale block_clock_start() {
    BlockClockScale scale{0, 0, uint64_t(1) << 32};
#if defined(__x86_64__)
    use_tsc = tsc_keeps_time(file_text("/proc/cpuinfo"),
                             file_text("/sys/devices/system/clocksource/clocksource0/current_clocksource")) &&
              tsc_scale(&scale);
#endif
    return scale;
}

uint64_t block_clock_now() {
#if defined(__x86_64__)
    if (use_tsc) return __rdtsc();
#endif
    return tick_ns();
}
