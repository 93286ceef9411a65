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
    WriterResult result;
    int64_t blocks_written;       // whole blocks, each counted in the total
    size_t last_write_bytes;      // what the failed or short write reported
    int error;                    // the system's code for the failure, or 0
    uint32_t alignment_bytes;     // unbuffered write size the file needs, 0 if unknown
    ForeignEntry foreign{};       // open_failed: another user's link or file in a shared folder
};

// Steps a driver adds around every writer's block loop (vorlax adds none).
// Both run on the writer's thread, but for a thread that never started.
struct WriterHook {
    void* context;
    // With file and buffer in hand, past the start gate, just before the
    // first block; may be null.
    void (*before_first_block)(void* context, uint32_t thread_index);
    // Once per writer: after its last block, with file still open; or, with
    // file invalid_file, in place of the loop of a writer that cannot write
    // at all (report->result says why). May flush the file, and change a
    // completed report into a flush_failed one.
    void (*after_last_block)(void* context, uint32_t thread_index, FileHandle file, WriterReport* report);
    // Null, or: for a writer that the run's stop request stopped after
    // blocks whole blocks, the count of blocks to end with: blocks to end
    // there, more to write on to (up to the layout's count) once the
    // request is withdrawn. May wait. vorlax-mpi's wear-out.
    int64_t (*blocks_after_stop)(void* context, uint32_t thread_index, int64_t blocks) = nullptr;
};

// Creates layout.name and takes the buffer, waits at the start gate and
// runs the hook's first step (each if any), then writes layout.block_count blocks, each filled with its fill
// byte just before its write, adding buffer_kb to
// its slot of counters after each whole block. Stops at the first
// failed or short write. Runs the hook's last step on every path. Prints
// the completion line to stdout when the write loop was reached and
// print_completion is set. Does not touch active_threads.
WriterReport write_test_file(const WriterLayout& layout, RunCounters* counters);

// The report of a writer that never reached its loop (result says why:
// no file, no buffer, no thread), after it is counted in at the start gate
// and the last step of layout's hook, if any, has heard of it. Inline, so that the driver may tell the hook of a
// thread that did not start without linking the writer into every program.
inline WriterReport writer_stopped_before_start(const WriterLayout& layout, WriterResult result, int error) {
    WriterReport report{result, 0, 0, error, 0};
    worker_skip_gate(layout);
    const WriterHook* hook = layout.options.writer_hook;
    if (hook) hook->after_last_block(hook->context, layout.thread_index, invalid_file, &report);
    return report;
}

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
