// What vorlax-mpi adds after every writer's block loop (the start gate that
// holds the writers of all ranks is the workers' own, worker.h): a count of
// the writers still writing, which ends the rank's window; the time of each
// writer's last block; and, for buffered runs, a timed flush after it. No
// MPI call here: the driver does the talking.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "writer_thread/writer_thread.h"

// What a writer did, filled by it and read by the driver after joining it.
struct WorkerOutcome {
    int64_t blocks = -1;            // whole blocks written; -1 when the loop was not reached
    bool fell_short = false;        // its thread, file, buffer, a write or the flush failed
    uint64_t end_tick = 0;          // tick_ms() after its last block (0: loop not reached)
    uint64_t flush_ms = 0;          // time its flush after the last block took
    const char* failure = nullptr;  // why it fell short, in a few words ("cannot create its test file")
    int error = 0;                  // the system's code for it, or 0
    int64_t wall_blocks = -1;       // --seconds: whole blocks when the deadline stopped it; -1: not stopped
};

// The state the hook of one rank's writers works on.
struct MpiWriters {
    std::atomic<int32_t> writing_threads{0};  // writers not yet past their last block
    bool flush_at_end = false;                // flush each file after its last block, timed
    std::vector<WorkerOutcome> outcomes;      // one per writer, by thread index
    // --seconds: writers stopped at the deadline wait at the wall for the
    // count of blocks every file is to hold, then write on to it.
    std::atomic<int32_t> at_wall{0};          // writers waiting there
    std::atomic<int64_t> wear_out_blocks{0};  // the count, once wear_out is set
    DoneSignal* wear_out = nullptr;           // set once by the driver: write on; null without --seconds
};

// The most whole blocks that any one of outcomes' writers had written when
// the deadline stopped it, or in all where it had ended before; 0 for none.
// Pure.
int64_t most_blocks_at_wall(const std::vector<WorkerOutcome>& outcomes);

// Readies writers for thread_count writers (every one counted as writing)
// and returns the hook that runs them; writers must outlive every writer.
WorkerHook mpi_writer_hook(MpiWriters* writers, uint32_t thread_count, bool flush_at_end);
