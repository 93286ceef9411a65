// Time, the block clock and the one-shot signal: part of the platform
// layer's neutral interface. Include platform/platform.h, which includes this.
#pragma once

#include <cstdint>

// ---- Time -------------------------------------------------------------------

// Milliseconds from a fixed, arbitrary origin; never goes back, does not wrap.
uint64_t tick_ms();
// Nanoseconds on the monotonic clock (CLOCK_MONOTONIC,
// QueryPerformanceCounter), from an arbitrary origin: for timing blocks.
uint64_t tick_ns();
// Suspends the calling thread; 0 gives up the rest of its time slice.
void sleep_ms(uint32_t ms);

// The block clock: raw ticks, read twice per timed block, cheaper than
// tick_ns() where the processor's time-stamp counter runs at a constant
// rate, in every power state, and Linux keeps its monotonic clock by it
// (x86-64: rdtsc); elsewhere tick_ns() itself, or QueryPerformanceCounter.
// A scale turns ticks into tick_ns() time:
//     ns = origin_ns + (ticks - origin_ticks) * ns_per_tick_q32 / 2^32.
struct BlockClockScale {
    uint64_t origin_ticks;
    uint64_t origin_ns;        // tick_ns() at origin_ticks
    uint64_t ns_per_tick_q32;  // nanoseconds per tick, times 2^32
};
// Picks the block clock and returns its scale, measured against tick_ns()
// (over about 20 ms when it is the time-stamp counter). Once per process,
// before any thread reads the clock.
BlockClockScale block_clock_start();
// The block clock now, in ticks.
uint64_t block_clock_now();
// Nanoseconds in ticks ticks at ns_per_tick_q32 (rounded down). Pure.
inline uint64_t block_clock_span_ns(uint64_t ticks, uint64_t ns_per_tick_q32) {
    const uint64_t whole = ns_per_tick_q32 >> 32, part = ns_per_tick_q32 & 0xffffffffu;
    return ticks * whole + (ticks >> 32) * part + (((ticks & 0xffffffffu) * part) >> 32);
}
// The tick_ns() time of ticks. Pure.
inline uint64_t block_clock_ns(const BlockClockScale& scale, uint64_t ticks) {
    if (ticks >= scale.origin_ticks)
        return scale.origin_ns + block_clock_span_ns(ticks - scale.origin_ticks, scale.ns_per_tick_q32);
    const uint64_t back = block_clock_span_ns(scale.origin_ticks - ticks, scale.ns_per_tick_q32);
    return back < scale.origin_ns ? scale.origin_ns - back : 0;
}

// ---- One-shot signal --------------------------------------------------------

// Set once by one thread, waited for with a time limit by others; it stays
// set. signal_create never fails: both systems make one from a lock and a
// condition variable, which cannot fail to be made.
struct DoneSignal;
DoneSignal* signal_create();
void signal_set(DoneSignal* signal);
// Returns true once the signal is set, false when timeout_ms passed first.
bool signal_wait_ms(DoneSignal* signal, uint32_t timeout_ms);
void signal_destroy(DoneSignal* signal);
