// The writer thread: creates one test file, fills it block by block and
// accounts for every whole block it wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "monitor/run_counters.h"
#include "platform/platform.h"
#include "settings/settings.h"

// One test file as a writer carries it out.
struct WriterLayout {
    uint32_t thread_index;
    std::string name;
    int64_t block_count;
    uint32_t buffer_kb;
    bool buffered;
    StartGate* gate = nullptr;              // passed with file and buffer in hand
    bool flush_at_end = false;              // flush the file after its last block
    bool print_completion = true;           // the completion line on stdout
    const char* message_head = "vorlax: ";  // heads the failure line
};

enum class WriterResult { completed, open_failed, buffer_failed, write_failed, write_short, flush_failed };

// How a writer ended, for its completion line and its message on stderr.
struct WriterReport {
    WriterResult result;
    int64_t blocks_written;       // whole blocks, each counted in the total
    size_t last_write_bytes;      // what the failed or short write reported
    int error;                    // the system's code for the failure, or 0
    uint32_t alignment_bytes;     // unbuffered write size the file needs, 0 if unknown
    uint64_t end_tick = 0;        // tick_ms() after the last block; 0 before the loop
    uint64_t flush_ms = 0;        // how long the flush after the last block took
    ForeignEntry foreign{};       // open_failed: another user's link or file in a shared folder
};

// Creates layout.name and takes the buffer, passes layout.gate (if any),
// then writes layout.block_count blocks, each filled with its fill byte just
// before its write, adding buffer_kb to counters->total_kb_written after
// each whole block. Stops at the first failed or short write. Counts itself
// out of writing_threads (and, before the loop, passes the gate without
// waiting) on every path; with flush_at_end it then flushes the file, timed.
// Prints the completion line to stdout when the write loop was reached and
// print_completion is set. Does not touch active_threads.
WriterReport write_test_file(const WriterLayout& layout, RunCounters* counters);

// The line on stderr that explains a report other than completed:
// "<message_head><name>: <what happened>: <reason>[; <what to do>]".
std::string describe_writer_failure(const WriterLayout& layout, const WriterReport& report);

// Why a writer ended as it did, in a few words for a summary line: "cannot
// create its test file", "a write failed"...; nullptr for completed.
const char* writer_failure_words(WriterResult result);

// What to try when the system refuses unbuffered transfers of buffer_kb:
// "the block size (N KB) must be a whole multiple of the device's sector
// size (A bytes here); use such a block size, or mode B", the bracket left
// out when alignment_bytes is 0.
std::string unbuffered_alignment_advice(uint32_t buffer_kb, uint32_t alignment_bytes);

// The line on stderr for a test file not opened because it is a foreign
// entry (platform.h): "<head><name>: not followed: ..." for a link, "not
// cut" for a file, naming its owner and folder, why, and what to do. The
// writers and the readers say it alike.
std::string describe_foreign_entry(const std::string& head, const ForeignEntry& foreign);

// Thread routine; job is a WorkerJob. Runs write_test_file for the job's
// test file with the job's options, reports a failure on stderr and counts
// it in failed_threads, fills job->outcome, then counts itself out of
// active_threads as its last act, setting all_done when it was the last.
void writer_thread(void* job);
