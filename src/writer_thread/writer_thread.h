// The writer thread: creates one test file, fills it block by block and
// accounts for every whole block it wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "monitor/run_counters.h"
#include "platform/platform.h"
#include "worker/worker.h"

// One test file as a writer carries it out.
using WriterLayout = WorkerLayout;

enum class WriterResult { completed, open_failed, buffer_failed, write_failed, write_short, flush_failed, not_started };

// How a writer ended, for its completion line and its message on stderr.
struct WriterReport {
    WriterResult result = WriterResult::completed;
    int64_t blocks_written = 0;     // whole blocks, each counted in the total
    size_t last_write_bytes = 0;    // what the failed or short write reported
    int error = 0;                  // the system's code for the failure, or 0
    uint32_t alignment_bytes = 0;   // unbuffered write size the file needs, 0 if unknown
    ForeignEntry foreign{};         // open_failed: another user's link or file in a shared folder
};

// Creates layout.name and takes the buffer, then the steps before the loop
// (the start gate, the hook's first step: worker.h), then writes
// layout.block_count blocks, each filled with its fill byte just before its
// write, adding buffer_kb to its slot of counters after each whole block.
// Stops at the first failed or short write, or at a stop request (where
// the hook may have it write on). The hook's last step runs on every path
// and may turn a completed report into flush_failed. Prints the completion
// line to stdout when the write loop was reached and print_completion is
// set. Does not touch active_threads.
WriterReport write_test_file(const WriterLayout& layout, RunCounters* counters);

// The line on stderr that explains a report other than completed:
// "<message_head><name>: <what happened>: <reason>; <what to do>".
std::string describe_writer_failure(const WriterLayout& layout, const WriterReport& report);

// Why a writer ended as it did, in a few words for a summary line: "cannot
// create its test file", "a write failed"...; nullptr for completed.
const char* writer_failure_words(WriterResult result);

// How result is named in the run record: "completed", "write_failed"...
const char* writer_result_name(WriterResult result);

// Thread routine; job is a WorkerJob. Runs write_test_file for the job's
// test file with the job's options, reports a failure on stderr and counts
// it in failed_threads, then counts itself out of active_threads as its
// last act, setting all_done when it was the last.
void writer_thread(void* job);
