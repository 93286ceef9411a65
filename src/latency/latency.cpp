#include "latency/latency.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The index of value's highest set bit; value > 0. One instruction (bsr, lzcnt).
uint32_t highest_bit(uint64_t value) { return 63u - static_cast<uint32_t>(__builtin_clzll(value)); }

constexpr uint64_t sub_buckets = uint64_t(1) << latency_sub_bits;

bool longer(const TimedBlock& a, const TimedBlock& b) {
    if (a.ns != b.ns) return a.ns > b.ns;
    return a.start_ns < b.start_ns;
}

}  // namespace

uint32_t latency_bucket_of(uint64_t ns) {
    if (ns < sub_buckets) return static_cast<uint32_t>(ns);
    const uint32_t shift = highest_bit(ns) - latency_sub_bits;
    const uint64_t bucket = (uint64_t(shift) + 1) * sub_buckets + ((ns >> shift) - sub_buckets);
    return bucket < latency_bucket_count ? static_cast<uint32_t>(bucket) : latency_bucket_count - 1;
}

uint64_t latency_bucket_low_ns(uint32_t bucket) {
    if (bucket < sub_buckets) return bucket;
    const uint32_t shift = bucket / sub_buckets - 1;
    return (sub_buckets + bucket % sub_buckets) << shift;
}

uint64_t latency_bucket_high_ns(uint32_t bucket) {
    if (bucket + 1 >= latency_bucket_count) return UINT64_MAX;
    return latency_bucket_low_ns(bucket + 1) - 1;
}

void block_times_reset(BlockTimes* times, uint64_t stall_ns) {
    std::memset(times, 0, sizeof *times);
    times->stall_ns = stall_ns;
}

void stall_add(StallList* stalls, const TimedBlock& block) {
    ++stalls->count;
    stalls->total_ns += block.ns;
    if (stalls->kept < stalls_kept) {
        stalls->longest[stalls->kept++] = block;
        return;
    }
    TimedBlock* shortest = stalls->longest;
    for (uint32_t i = 1; i < stalls_kept; ++i)
        if (longer(*shortest, stalls->longest[i])) shortest = &stalls->longest[i];
    if (longer(block, *shortest)) *shortest = block;
}

void block_times_add_unfinished(BlockTimes* times, uint64_t start_ns, uint64_t ns, int64_t block, uint32_t thread) {
    if (ns >= times->stall_ns) stall_add(&times->stalls, TimedBlock{ns, start_ns, block, thread, 0, true});
}

void block_times_merge(BlockTimes* into, const BlockTimes& from) {
    LatencyHistogram& h = into->histogram;
    const LatencyHistogram& f = from.histogram;
    if (f.blocks > 0) {
        for (uint32_t i = 0; i < latency_bucket_count; ++i) h.counts[i] += f.counts[i];
        if (h.blocks == 0 || f.min_ns < h.min_ns) h.min_ns = f.min_ns;
        h.max_ns = std::max(h.max_ns, f.max_ns);
        h.blocks += f.blocks;
        h.sum_ns += f.sum_ns;
        if (longer(from.slowest, into->slowest)) into->slowest = from.slowest;
    }
    // Counted once in the totals below, not again by stall_add.
    const uint64_t count = into->stalls.count + from.stalls.count;
    const uint64_t total_ns = into->stalls.total_ns + from.stalls.total_ns;
    for (uint32_t i = 0; i < from.stalls.kept; ++i) stall_add(&into->stalls, from.stalls.longest[i]);
    into->stalls.count = count;
    into->stalls.total_ns = total_ns;
}

void block_times_rebase(BlockTimes* times, uint64_t origin_ns, uint32_t rank) {
    auto rebase = [&](TimedBlock* block) {
        block->start_ns = block->start_ns > origin_ns ? block->start_ns - origin_ns : 0;
        block->rank = rank;
    };
    rebase(&times->slowest);
    for (uint32_t i = 0; i < times->stalls.kept; ++i) rebase(&times->stalls.longest[i]);
}

uint64_t latency_percentile_ns(const LatencyHistogram& histogram, double fraction) {
    if (histogram.blocks == 0) return 0;
    fraction = std::min(std::max(fraction, 0.0), 1.0);
    uint64_t rank = static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(histogram.blocks) - 1e-9));
    rank = std::min(std::max<uint64_t>(rank, 1), histogram.blocks);
    uint64_t seen = 0;
    uint32_t bucket = 0;
    for (; bucket < latency_bucket_count; ++bucket) {
        seen += histogram.counts[bucket];
        if (seen >= rank) break;
    }
    // The last bucket has no upper edge: what passed it is told by the maximum.
    if (bucket + 1 >= latency_bucket_count) return histogram.max_ns;
    const uint64_t low = latency_bucket_low_ns(bucket);
    const uint64_t high = latency_bucket_high_ns(bucket);
    const uint64_t middle = low + (high - low) / 2;
    return std::min(std::max(middle, histogram.min_ns), histogram.max_ns);
}

std::vector<TimedBlock> stalls_longest_first(const StallList& stalls) {
    std::vector<TimedBlock> blocks(stalls.longest, stalls.longest + stalls.kept);
    std::sort(blocks.begin(), blocks.end(), longer);
    return blocks;
}
