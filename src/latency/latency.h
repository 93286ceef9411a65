// Every block's time: a log-linear histogram per worker, its slowest block
// and its stalls, merged at the end. Pure arithmetic; times in nanoseconds.
#pragma once

#include <cstdint>
#include <vector>

// Between 2^k and 2^(k+1) ns a bucket is 2^k / 128 wide (under 0.8 % of its
// values); below 128 ns every nanosecond has its own. 4096 buckets reach
// 2^38 ns (275 s); a longer time counts in the last one.
constexpr uint32_t latency_sub_bits = 7;
constexpr uint32_t latency_bucket_count = 4096;

struct LatencyHistogram {
    uint64_t counts[latency_bucket_count];
    uint64_t blocks;
    uint64_t min_ns;  // meaningful when blocks > 0
    uint64_t max_ns;
    uint64_t sum_ns;
};

// One timed block worth keeping: a stall, or a worker's slowest.
struct TimedBlock {
    uint64_t ns;        // how long it took; 0 for none
    uint64_t start_ns;  // when it began, on the clock of the run (see block_times_rebase)
    int64_t block;      // its index in its worker's file
    uint32_t thread;
    uint32_t rank;      // vorlax-mpi's rank, 0 elsewhere
    bool unfinished;    // still in hand when the run ended: ns is its time so far
};

constexpr uint32_t stalls_kept = 32;

// Stalls: how many, their time, and the 32 longest (in no order).
struct StallList {
    uint64_t count;
    uint64_t total_ns;
    uint32_t kept;
    TimedBlock longest[stalls_kept];
};

// What one worker (or, merged, a run) knows of its blocks' times.
struct BlockTimes {
    LatencyHistogram histogram;
    TimedBlock slowest;
    StallList stalls;
    uint64_t stall_ns;  // a block this long or longer is a stall
};

// The bucket that counts ns. Pure.
uint32_t latency_bucket_of(uint64_t ns);
// The smallest and the largest time bucket counts (both included). Pure.
uint64_t latency_bucket_low_ns(uint32_t bucket);
uint64_t latency_bucket_high_ns(uint32_t bucket);

// Empties *times (every count 0, no slowest block, no stalls) and sets
// the stall threshold.
void block_times_reset(BlockTimes* times, uint64_t stall_ns);

// Keeps *block in *stalls: counted and timed, and among the longest when
// it is one of the 32 longest so far.
void stall_add(StallList* stalls, const TimedBlock& block);

// Counts one block of thread that began at start_ns and took ns. Nothing
// shared; a few additions and comparisons (a stall: a few more).
inline void block_times_add(BlockTimes* times, uint64_t start_ns, uint64_t ns, int64_t block, uint32_t thread) {
    LatencyHistogram& h = times->histogram;
    ++h.counts[latency_bucket_of(ns)];
    if (h.blocks == 0 || ns < h.min_ns) h.min_ns = ns;
    if (ns > h.max_ns) h.max_ns = ns;
    ++h.blocks;
    h.sum_ns += ns;
    if (ns > times->slowest.ns) times->slowest = TimedBlock{ns, start_ns, block, thread, 0, false};
    if (ns >= times->stall_ns) stall_add(&times->stalls, TimedBlock{ns, start_ns, block, thread, 0, false});
}

// Keeps a block still in hand when the run ended, begun at start_ns and
// ns into it so far, as a stall (unfinished) when ns reaches the stall
// threshold. Not in the histogram: it holds whole blocks only.
void block_times_add_unfinished(BlockTimes* times, uint64_t start_ns, uint64_t ns, int64_t block, uint32_t thread);

// Adds from to *into: bucket by bucket, the smaller minimum and larger
// maximum, the slower slowest block, all stalls with the 32 longest kept.
void block_times_merge(BlockTimes* into, const BlockTimes& from);

// Makes every start time relative to origin_ns (the run's start on the
// same clock) and sets every block's rank, before times leave their
// process. A start before origin becomes 0.
void block_times_rebase(BlockTimes* times, uint64_t origin_ns, uint32_t rank);

// The time below which fraction (0 to 1) of the blocks took, within the
// width of its bucket: the middle of the bucket that holds the block of
// rank ceil(fraction * blocks), clamped to the measured minimum and
// maximum. 0 when no block was counted. Pure.
uint64_t latency_percentile_ns(const LatencyHistogram& histogram, double fraction);

// The stalls kept, longest first (equal times: earlier first). Pure.
std::vector<TimedBlock> stalls_longest_first(const StallList& stalls);
