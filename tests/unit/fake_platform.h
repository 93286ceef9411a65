// A platform layer with scripted outcomes, linked in place of the real one
// so tests can make any write fail, come back short or be refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

enum class FakeWrite { whole, short_write, failed };

// What the next run through the platform layer will meet.
struct FakeScript {
    int open_error = 0;           // non-zero: file_create fails with it
    int alloc_error = 0;          // non-zero: pages_alloc fails with it
    int64_t fault_at_write = -1;  // index of the write call that misbehaves
    FakeWrite fault = FakeWrite::whole;
    size_t short_bytes = 0;       // what a short write reports
    int write_error = 0;          // the code a failed write sets
    uint32_t alignment_bytes = 0; // what file_unbuffered_alignment_bytes reports
    int sync_error = 0;           // non-zero: file_sync fails with it
    // Reading: a file of read_file_bytes whose block k (of the size of each
    // read) holds k mod 256; the reads at the offsets in failed_reads fail
    // with read_error.
    uint64_t read_file_bytes = 0;
    std::vector<uint64_t> failed_reads{};
    int read_error = 0;
    // Holes as [start, end) byte ranges, in order: they read as zeros.
    std::vector<std::pair<uint64_t, uint64_t>> holes{};
    // A slow system: thread_start returns this long after the thread runs.
    uint32_t thread_start_delay_ms = 0;
};

// What the code under test did; safe to update from many workers at once.
struct FakeLog {
    int64_t write_calls = 0;
    std::vector<unsigned char> fill_of_write;  // the first byte of each write
    std::vector<bool> write_uniform;           // whether that write held one byte throughout
    int files_open = 0;
    int buffers_held = 0;
    bool last_open_buffered = false;
    int syncs = 0;                             // file_sync calls
};

extern FakeScript fake_script;
extern FakeLog fake_log;

// Sets the script for the next run and clears the log.
void fake_reset(const FakeScript& script);

// The error code the fake treats as a refusal of cache-bypassing writes.
constexpr int fake_refusal_error = 22;  // EINVAL on Linux
