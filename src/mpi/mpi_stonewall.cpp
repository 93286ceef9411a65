#include "mpi/mpi_stonewall.h"

#include "mpi/mpi_monitor.h"
#include "platform/platform.h"

namespace {

void take_stock(Stonewall* wall) {
    wall->wall_kb = run_total_kb(*wall->counters);
    wall->mine = most_blocks_at_wall(wall->writers->outcomes);
    MPI_Iallreduce(&wall->mine, &wall->target, 1, MPI_INT64_T, MPI_MAX, wall->comm, &wall->request);
    wall->phase = Stonewall::Phase::agreeing;
}

}  // namespace

void stonewall_open(Stonewall* wall, MpiWriters* writers, RunCounters* counters) {
    wall->writers = writers;
    wall->counters = counters;
    writers->wear_out = signal_create();
    MPI_Comm_dup(MPI_COMM_WORLD, &wall->comm);
}

void stonewall_poll(Stonewall* wall) {
    MpiWriters& writers = *wall->writers;
    switch (wall->phase) {
        case Stonewall::Phase::writing:
            if (run_stop_reason() != StopReason::deadline) return;
            wall->phase = Stonewall::Phase::stopping;
            // fall through
        case Stonewall::Phase::stopping:
            // Those at the wall first: each is still counted as writing.
            if (writers.at_wall.load() != writers.writing_threads.load()) return;
            wall->wall_ms = tick_ms() - wall->start_tick;
            take_stock(wall);
            // fall through
        case Stonewall::Phase::agreeing: {
            int done = 0;
            MPI_Test(&wall->request, &done, MPI_STATUS_IGNORE);
            if (!done) return;
            writers.wear_out_blocks.store(wall->target);
            withdraw_run_stop(StopReason::deadline);
            // A signal during the stop at the wall was kept aside: no wear-out then.
            if (signal_stop_reason_of_run() != StopReason::none) request_run_stop(signal_stop_reason_of_run());
            signal_set(writers.wear_out);
            wall->phase = Stonewall::Phase::wearing_out;
            return;
        }
        case Stonewall::Phase::wearing_out:
            return;
    }
}

void stonewall_close(Stonewall* wall, MpiRun* run) {
    if (wall->phase == Stonewall::Phase::writing) take_stock(wall);
    while (wall->phase != Stonewall::Phase::wearing_out) {
        poll_ends(run);
        stonewall_poll(wall);
        if (wall->phase != Stonewall::Phase::wearing_out) sleep_ms(1);
    }
    signal_destroy(wall->writers->wear_out);
    wall->writers->wear_out = nullptr;
    MPI_Comm_free(&wall->comm);
}
