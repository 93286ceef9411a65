// What --latency and --json add to a run: every worker's block times, the
// two lines before "DONE!", and the run record. Shared by every program.
#pragma once

#include <memory>
#include <string>

#include "monitor/run_counters.h"
#include "record/record.h"
#include "settings/settings.h"

// One BlockTimes per worker of settings, each set in its slot of
// *counters with the block clock's scale (block_clock_start: about 20 ms),
// when the run times its blocks; null (and the slots without) when it
// does not.
std::unique_ptr<BlockTimes[]> give_block_times(const RunSettings& settings, RunCounters* counters);

// Sums the times of the first thread_count workers of counters into *into
// (reset first), start times made relative to origin_ns and put on rank.
// A worker still in its block (not counted out) adds only that block, as
// an unfinished stall of its time so far (its index from its KB and
// block_kb).
void merge_block_times(const RunCounters& counters, uint32_t thread_count, uint32_t block_kb, uint64_t origin_ns,
                       uint32_t rank, BlockTimes* into);

// The record's part known at the start: program, command, start time,
// settings, machine and target (free space now).
RunRecord begin_record(const char* program, int argc, const char* const* argv, const RunSettings& settings);

// The reason of a worker still in its block when a stopped run ended
// without it: "still in a block after 3 s, not waited for".
std::string still_in_block_reason();

// One record of each of the first thread_count workers of counters, with
// block_kb to make their MB of; a worker still in its block is "running",
// with its whole blocks from its KB and still_in_block_reason.
std::vector<ThreadRecord> thread_records(const RunCounters& counters, uint32_t thread_count, uint32_t block_kb);

// How the record names why a run stopped: null for none, "interrupt",
// "terminate", "deadline".
const char* stop_reason_name(StopReason reason);

// Prints the two --latency lines on stdout when settings ask for them.
void print_latency_lines(const RunSettings& settings, const BlockTimes& times, bool with_rank);

// In a stopped run (record->stopped set), names "stopped" the result of
// every thread that completed fewer than file_blocks blocks: the stop, not
// its file's end, ended it. Pure.
void mark_stopped_threads(RunRecord* record, int64_t file_blocks);

// With --json, checks before the run that its record can be written
// (probe_record_file) and is none of the run's test files (by name, or
// the same file where both exist); when it cannot, prints why on stderr, headed by
// program, and returns true: the run is refused (exit status 2).
bool refuse_record_path(const RunSettings& settings, const char* program);

// Writes record to settings.json_path when given, after taking the notes
// printed so far and *exit_status, and its stopped threads marked; a failure is one line on stderr and
// makes a status of 0 into 1.
void finish_record(const RunSettings& settings, RunRecord* record, int* exit_status);
