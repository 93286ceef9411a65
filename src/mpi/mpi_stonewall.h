// vorlax-mpi --seconds S: the stonewall with wear-out. At S each rank stops
// taking new blocks (the monitor requests the stop); once its writers have
// all finished the block in hand, the rank joins one reduction, the most
// blocks any thread of any rank wrote (MAX), and its writers that wrote
// fewer write on to that count, so that every file holds as many blocks.
// Only the main thread of a rank calls these.
#pragma once

#include <mpi.h>

#include <cstdint>

#include "monitor/run_counters.h"
#include "mpi/mpi_writers.h"

struct MpiRun;

struct Stonewall {
    MpiWriters* writers = nullptr;
    RunCounters* counters = nullptr;
    uint64_t start_tick = 0;
    // A communicator of its own: its one reduction may fall between any two
    // of the monitor's, on each rank at its own time.
    MPI_Comm comm = MPI_COMM_NULL;
    enum class Phase { writing, stopping, agreeing, wearing_out } phase = Phase::writing;
    int64_t mine = 0;         // the most blocks of a writer of this rank at the wall
    int64_t target = 0;       // the most of all ranks: what every file is to hold
    MPI_Request request = MPI_REQUEST_NULL;
    uint64_t wall_kb = 0;     // this rank's total once its writers had stopped
    uint64_t wall_ms = 0;     // when that was, from the start; 0 when the run ended before S
};

// Readies wall for a run of a rank whose writers are writers (their wear_out
// signal made here) and duplicates MPI_COMM_WORLD; every rank calls it.
void stonewall_open(Stonewall* wall, MpiWriters* writers, RunCounters* counters);

// Moves wall on as far as it can without waiting: from the deadline's stop
// request to the writers at the wall, to the reduction, to the wear-out
// (the stop withdrawn, the writers let go). Cheap; poll_ends calls it.
void stonewall_poll(Stonewall* wall);

// After the monitor, when every writer of every rank has ended: joins the
// reduction if this rank has not yet (the run ended before its deadline)
// and waits for it, polling run. Then frees what stonewall_open made.
void stonewall_close(Stonewall* wall, MpiRun* run);
