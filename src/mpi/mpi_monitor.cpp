#include "mpi/mpi_monitor.h"

#include "mpi/mpi_stonewall.h"
#include "output/output.h"
#include "platform/platform.h"

namespace {

constexpr int end_notice_tag = 17;
// How long a wait tests with yields in between before it turns to 1 ms
// sleeps: long enough for a reduction among ranks that arrive together,
// short enough not to take a core from the writers while one rank lags.
// On busy cores a single yield may outlast it: then it sleeps at once.
constexpr double yielding_s = 0.0005;

bool all_ended(const MpiRun& run) { return run.ended && run.ends_heard == run.ranks - 1; }

void note_first_end(MpiRun* run) {
    if (run->first_end_known) return;
    run->first_end_known = true;
    run->kb_at_first_end = run_total_kb(*run->counters);
}

void wait_for_ends(void* context, uint64_t due_tick) {
    auto* run = static_cast<MpiRun*>(context);
    for (;;) {
        poll_ends(run);
        if (all_ended(*run) || tick_ms() >= due_tick) return;
        sleep_ms(1);
    }
}

// This rank's stop by a signal: Ctrl-C or SIGTERM to it, or to another rank.
std::atomic<int32_t> signal_stop_reason{0};

uint64_t signal_stop() { return static_cast<uint64_t>(signal_stop_reason.load()); }

// This rank's writers not yet ended; once a signal's stop has waited
// stop_grace_ms for them, none: one stuck in its block (a hung device)
// holds no rank in the monitor.
uint64_t writers_running(MpiRun* run) {
    const int32_t writing = run->writing_threads->load();
    if (writing == 0 || !signal_stop()) return static_cast<uint64_t>(writing);
    const uint64_t now_ms = tick_ms();
    if (run->counters->stop_seen_ms == 0) run->counters->stop_seen_ms = now_ms;
    return now_ms - run->counters->stop_seen_ms < stop_grace_ms ? static_cast<uint64_t>(writing) : 0;
}

MonitorTotals sample_all_ranks(void* context) {
    auto* run = static_cast<MpiRun*>(context);
    poll_ends(run);
    // Writers first, then the total: a total read after the last writer
    // ended is final.
    uint64_t mine[2];
    mine[0] = writers_running(run);
    mine[1] = run_total_kb(*run->counters);
    uint64_t sums[2] = {0, 0};
    // The slowest block, and a stop by a signal that reached only some
    // ranks (a kill of one rank): every rank takes it at this sample.
    const uint64_t my_highest[2] = {run->timed ? take_interval_max_ns(run->counters) : 0, signal_stop()};
    uint64_t highest[2] = {0, 0};
    const double started = MPI_Wtime();
    MPI_Request requests[2];
    MPI_Iallreduce(mine, sums, 2, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD, &requests[0]);
    MPI_Iallreduce(my_highest, highest, 2, MPI_UINT64_T, MPI_MAX, MPI_COMM_WORLD, &requests[1]);
    wait_requests(run, requests, 2);
    run->reduction_s.push_back(MPI_Wtime() - started);
    if (highest[1] && !signal_stop()) request_signal_stop(static_cast<StopReason>(highest[1]));
    return MonitorTotals{sums[0] != 0, sums[1], highest[0]};
}

void print_on_rank_0(void* context, const std::string& line) {
    if (static_cast<MpiRun*>(context)->rank == 0) print_stdout_line(line);
}

}  // namespace

void request_signal_stop(StopReason reason) {
    int32_t none = 0;
    signal_stop_reason.compare_exchange_strong(none, static_cast<int32_t>(reason));
    request_run_stop(reason);
}

StopReason signal_stop_reason_of_run() { return static_cast<StopReason>(signal_stop_reason.load()); }

void expect_end_notices(MpiRun* run) {
    const int others = run->ranks - 1;
    run->notices_in.assign(others, MPI_REQUEST_NULL);
    run->notice_in_data.assign(others, 0);
    run->notice_in_arrived.assign(others, 0);
    for (int i = 0; i < others; ++i)
        MPI_Irecv(&run->notice_in_data[i], 1, MPI_INT, MPI_ANY_SOURCE, end_notice_tag, MPI_COMM_WORLD,
                  &run->notices_in[i]);
}

void poll_ends(MpiRun* run) {
    if (run->stonewall) stonewall_poll(run->stonewall);
    if (run->ends_heard < run->ranks - 1) {
        int arrived = 0;
        std::vector<int>& indices = run->notice_in_arrived;
        MPI_Testsome(static_cast<int>(run->notices_in.size()), run->notices_in.data(), &arrived, indices.data(),
                     MPI_STATUSES_IGNORE);
        if (arrived > 0 && arrived != MPI_UNDEFINED) {
            run->ends_heard += arrived;
            for (int i = 0; i < arrived; ++i)
                if (run->notice_in_data[indices[i]] != 0) note_first_end(run);
        }
    }
    if (!run->ended && writers_running(run) == 0) {
        run->ended = true;
        // A rank that could not write a block ends at once; the window in
        // which all ranks write ends with the first rank that wrote.
        const bool wrote = run_total_kb(*run->counters) > 0;
        if (wrote) note_first_end(run);
        run->notices_out.clear();
        run->notices_out.reserve(run->ranks);
        run->notice_out_data.assign(run->ranks, wrote ? 1 : 0);
        for (int other = 0; other < run->ranks; ++other) {
            if (other == run->rank) continue;
            run->notices_out.push_back(MPI_REQUEST_NULL);
            MPI_Isend(&run->notice_out_data[other], 1, MPI_INT, other, end_notice_tag, MPI_COMM_WORLD,
                      &run->notices_out.back());
        }
    }
}

void wait_requests(MpiRun* run, MPI_Request* requests, int count) {
    const double yield_until = MPI_Wtime() + yielding_s;
    for (;;) {
        int done = 0;
        MPI_Testall(count, requests, &done, MPI_STATUSES_IGNORE);
        if (done) return;
        poll_ends(run);
        sleep_ms(MPI_Wtime() < yield_until ? 0 : 1);
    }
}

void finish_end_notices(MpiRun* run) {
    while (!all_ended(*run)) {
        poll_ends(run);
        if (!all_ended(*run)) sleep_ms(1);
    }
    wait_requests(run, run->notices_out.data(), static_cast<int>(run->notices_out.size()));
}

MonitorSource mpi_monitor_source(MpiRun* run, const char* verb) {
    return MonitorSource{run, wait_for_ends, sample_all_ranks, print_on_rank_0, verb};
}
