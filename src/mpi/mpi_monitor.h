// The once-a-second line over all ranks: a MonitorSource whose sample is a
// reduction among the ranks, and the notices by which every rank learns
// when the first rank and the last have ended. Only the main thread of a
// rank calls these.
#pragma once

#include <mpi.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "monitor/monitor.h"

struct Stonewall;  // mpi_stonewall.h

struct MpiRun {
    int rank = 0;
    int ranks = 1;
    RunCounters* counters = nullptr;
    bool timed = false;  // the writers time their blocks: each sample takes the slowest of every rank too
    const std::atomic<int32_t>* writing_threads = nullptr;  // this rank's writers not yet past their last block
    bool ended = false;            // every writer of this rank is past its last block
    int ends_heard = 0;            // notices of other ranks' ends received
    bool first_end_known = false;  // this rank has learnt of the first end
    uint64_t kb_at_first_end = 0;  // its total at that moment
    std::vector<MPI_Request> notices_in, notices_out;
    std::vector<int> notice_in_data, notice_out_data;  // 1: the rank that ended wrote
    std::vector<int> notice_in_arrived;  // indices of the notices one poll takes in
    std::vector<double> reduction_s;  // how long each reduction took here
    Stonewall* stonewall = nullptr;   // --seconds: moved on at every poll
};

// The stop request of Ctrl-C and SIGTERM (for watch_stop_requests): keeps
// reason (the first stays) apart from a deadline's, then requests the run's
// stop. Each sample passes it on to every rank. Lock-free.
void request_signal_stop(StopReason reason);

// The reason a signal stopped the run, on this rank or another that a
// sample has heard of; StopReason::none when none did.
StopReason signal_stop_reason_of_run();

// Posts the receives for the other ranks' end notices; before the start.
void expect_end_notices(MpiRun* run);

// Takes in the notices that have come and, once this rank's writers have
// all ended, sends its own (once), which says whether the rank wrote. The
// first end it learns of, its own or another's, of a rank that wrote fixes
// kb_at_first_end. Moves the stonewall on, if any. Cheap; call it often.
void poll_ends(MpiRun* run);

// Waits for requests to complete without spinning a core: tests them, with
// yields at first and then 1 ms sleeps, polling the end notices meanwhile.
void wait_requests(MpiRun* run, MPI_Request* requests, int count);

// Sends the last notices and waits for every rank's; after the writers end.
void finish_end_notices(MpiRun* run);

// wait_until returns at the due tick or when every rank has ended; sample
// sums the writers still writing and the totals of all ranks (a reduction
// that every rank joins); print_line prints on rank 0 only.
MonitorSource mpi_monitor_source(MpiRun* run, const char* verb);
