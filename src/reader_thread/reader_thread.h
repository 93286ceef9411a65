// The reader thread: reads one test file back block by block, checks every
// byte against its pattern and accounts for every whole block it read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/run_counters.h"
#include "platform/platform.h"
#include "block_check/block_check.h"
#include "worker/worker.h"

// One test file as a reader takes it on: what the run's settings say it
// should be.
using ReaderLayout = WorkerLayout;

// Blocks first_block to last_block of a file, both included.
struct BlockSpan {
    int64_t first_block;
    int64_t last_block;
};

// The holes a report names one by one; the rest are counted.
constexpr size_t holes_named = 4;

enum class ReaderResult { completed, open_failed, size_failed, buffer_failed };

// What a reader found, for its completion line and its line on stderr.
struct ReaderReport {
    ReaderResult result = ReaderResult::completed;
    int error = 0;                     // the system's code for an open, size or buffer failure
    uint64_t file_bytes = 0;           // the file's length when it was opened
    int64_t blocks_read = 0;           // whole blocks read, good or bad, each counted in the total
    int64_t bad_blocks = 0;            // whole blocks read that do not hold their pattern
    int64_t first_bad_block = -1;
    BlockDamage first_damage{};        // what the first bad block holds
    int64_t unreadable_blocks = 0;     // blocks whose read failed; reading went on past them
    int64_t first_unreadable_block = -1;
    int read_error = 0;                // the code of the first failed read
    bool refused = false;              // an unbuffered read was refused: reading stopped there
    bool stopped = false;              // the run was asked to stop before the last block
    uint32_t alignment_bytes = 0;      // what refused unbuffered reads need, 0 if unknown
    int64_t ended_at_block = -1;       // the file ended there while it was read
    uint32_t written_kb = 0;           // the file was written with this other block size
    ForeignEntry foreign{};            // open_failed: another user's link in a shared folder
    int64_t hole_count = 0;            // holes in the run's whole blocks (a file vorlax wrote has none)
    std::vector<BlockSpan> holes;      // the blocks of the first holes_named of them
};

// Opens layout.name, reads the whole blocks its length holds (at most
// layout.block_count), checks each against its pattern right after its
// read and adds buffer_kb to its slot of counters per whole block
// read; asks the file system for holes in those blocks first, then waits
// at the start gate (if any). A failed
// read is counted and skipped; an unbuffered read the system refuses, or
// a file found to have another block size, ends the
// reading. Prints the completion line to stdout when the read loop was
// reached and print_completion is set. Does not touch active_threads.
ReaderReport read_test_file(const ReaderLayout& layout, RunCounters* counters);

// True when the file is whole, of the run's length, and every block holds
// its pattern.
bool reader_report_clean(const ReaderLayout& layout, const ReaderReport& report);

// The line on stderr for a report that is not clean (empty for a clean
// one): "<message_head><name>: <problem>[; <problem>...]", each problem in
// words a person can act on.
std::string describe_reader_problems(const ReaderLayout& layout, const ReaderReport& report);

// How a report is named in the run record: "open_failed", "size_failed",
// "buffer_failed" for a file not read; for one read, the first of
// "read_failed" (a read failed or was refused), "bad_blocks" (blocks that
// do not hold their pattern, holes, another block size) and
// "wrong_length" (not the run's length, unless a stop cut the reading
// short), or "completed". Pure.
const char* reader_result_name(const ReaderLayout& layout, const ReaderReport& report);

// Thread routine; job is a WorkerJob. Runs read_test_file for the job's
// test file, reports problems on stderr and counts the thread in
// failed_threads if there were any, then counts itself out.
void reader_thread(void* job);

// Checks block, just read into buffer, and notes it in *report when bad.
// Returns false when the file turns out to have another block size, so
// reading it further would only pile up bad blocks. (The benchmark's build
// links a version that checks nothing.)
bool check_read_block(FileHandle file, unsigned char* buffer, const ReaderLayout& layout, int64_t block,
                      ReaderReport* report);
