// The writer thread: creates one test file, fills it block by block and
// accounts for every whole block it wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "monitor/run_counters.h"
#include "settings/settings.h"

// One test file as a writer carries it out.
struct WriterLayout {
    uint32_t thread_index;
    std::string name;
    int64_t block_count;
    uint32_t buffer_kb;
    bool buffered;
};

enum class WriterResult { completed, open_failed, buffer_failed, write_failed, write_short };

// How a writer ended, for its completion line and its message on stderr.
struct WriterReport {
    WriterResult result;
    int64_t blocks_written;       // whole blocks, each counted in the total
    size_t last_write_bytes;      // what the failed or short write reported
    int error;                    // the system's code for the failure, or 0
    uint32_t alignment_bytes;     // unbuffered write size the file needs, 0 if unknown
};

// Creates layout.name and writes layout.block_count blocks, each filled with
// its fill byte just before its write, adding buffer_kb to
// counters->total_kb_written after each whole block. Stops at the first
// failed or short write. Prints the completion line to stdout when the
// write loop was reached. Does not touch active_threads.
WriterReport write_test_file(const WriterLayout& layout, RunCounters* counters);

// The line on stderr that explains a report other than completed:
// "vorlax: <name>: <what happened>: <reason>[; <what to do>]".
std::string describe_writer_failure(const WriterLayout& layout, const WriterReport& report);

// What to try when the system refuses unbuffered transfers of buffer_kb:
// "the block size (N KB) must be a whole multiple of the device's sector
// size (A bytes here); use such a block size, or mode B", the bracket left
// out when alignment_bytes is 0.
std::string unbuffered_alignment_advice(uint32_t buffer_kb, uint32_t alignment_bytes);

// Thread routine; job is a WorkerJob. Runs write_test_file for the job's
// test file, reports a failure on stderr and counts it in failed_threads,
// then counts itself out of active_threads as its last act, setting
// all_done when it was the last.
void writer_thread(void* job);
