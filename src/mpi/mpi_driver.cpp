#include "mpi/mpi_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "main/run_driver.h"
#include "main/run_record.h"
#include "mpi/mpi_monitor.h"
#include "mpi/mpi_names.h"
#include "mpi/mpi_setup.h"
#include "mpi/mpi_stonewall.h"
#include "mpi/mpi_record.h"
#include "mpi/mpi_summary.h"
#include "mpi/mpi_writers.h"
#include "latency/latency_lines.h"
#include "output/output.h"

namespace {

// Why a rank's writers wrote nothing: the first failure among them.
std::string rank_failure(const std::vector<WorkerOutcome>& outcomes) {
    for (const WorkerOutcome& outcome : outcomes)
        if (outcome.fell_short && outcome.failure)
            return std::string(outcome.failure) +
                   (outcome.error ? ": " + platform_error_text(outcome.error) : std::string());
    return std::string();
}

// This rank's row of the summary, from its writers' outcomes.
RankRow rank_row(const MpiRun& run, const MpiWriters& writers, const char* host, uint64_t start_tick,
                 double barrier_s) {
    RankRow row{};
    if (run.stonewall) {
        row.wall_kb = run.stonewall->wall_kb;
        row.wall_ms = run.stonewall->wall_ms;
    }
    row.rank = static_cast<uint32_t>(run.rank);
    row.fell_short = run.counters->failed_threads.load() > 0 ? 1u : 0u;
    row.total_kb = run_total_kb(*run.counters);
    row.kb_at_first_end = run.kb_at_first_end;
    row.barrier_us = static_cast<uint64_t>(barrier_s * 1e6);
    for (const WorkerOutcome& outcome : writers.outcomes) {
        if (outcome.end_tick == 0) continue;
        row.span_ms = std::max(row.span_ms, outcome.end_tick - start_tick);
        if (writers.flush_at_end) row.durable_ms = std::max(row.durable_ms, outcome.end_tick + outcome.flush_ms - start_tick);
        row.longest_flush_ms = std::max(row.longest_flush_ms, outcome.flush_ms);
    }
    std::snprintf(row.host, sizeof row.host, "%s", host);
    if (row.total_kb == 0) std::snprintf(row.failure, sizeof row.failure, "%s", rank_failure(writers.outcomes).c_str());
    return row;
}

// Gathers every rank's row and writers' block counts to rank 0, which prints
// the completion lines, the summary and DONE!, and takes the stonewall's
// figures into *record. Returns whether any rank fell short.
bool report_run(MpiRun* run, const RunSettings& settings, const RankRow& row,
                const std::vector<WorkerOutcome>& outcomes, const std::string& before_done, RunRecord* record) {
    const size_t ranks = static_cast<size_t>(run->ranks);
    std::vector<RankRow> rows(run->rank == 0 ? ranks : 0);
    std::vector<int64_t> blocks, all_blocks(run->rank == 0 ? ranks * outcomes.size() : 0);
    for (const WorkerOutcome& outcome : outcomes) blocks.push_back(outcome.blocks);
    int fell_short = static_cast<int>(row.fell_short), any_fell_short = 0;
    MPI_Request requests[3];
    MPI_Igather(&row, sizeof row, MPI_BYTE, rows.data(), sizeof row, MPI_BYTE, 0, MPI_COMM_WORLD, &requests[0]);
    MPI_Igather(blocks.data(), static_cast<int>(blocks.size()), MPI_INT64_T, all_blocks.data(),
                static_cast<int>(blocks.size()), MPI_INT64_T, 0, MPI_COMM_WORLD, &requests[1]);
    MPI_Iallreduce(&fell_short, &any_fell_short, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD, &requests[2]);
    wait_requests(run, requests, 3);
    if (run->rank == 0) {
        std::string text;
        for (size_t i = 0; i < all_blocks.size(); ++i)
            if (all_blocks[i] >= 0)
                text += mpi_completion_line(static_cast<uint32_t>(i / outcomes.size()),
                                            static_cast<uint32_t>(i % outcomes.size()), all_blocks[i]);
        for (const std::string& line : summary_lines(rows, settings.buffered)) text += line;
        if (run->stonewall) {
            StonewallFigures figures{};
            const std::vector<std::string> lines =
                stonewall_lines(rows, settings.seconds, run->stonewall->target, &figures);
            for (const std::string& line : lines) text += line;
            if (!lines.empty()) record->stonewall = stonewall_record(figures, settings.seconds);
        }
        // vorlax-read takes files of max-GB: those of a run for a fixed time are shorter.
        // Nor is there anything to check where no rank wrote a block.
        const bool any_block = std::any_of(rows.begin(), rows.end(), [](const RankRow& r) { return r.total_kb > 0; });
        if (!run->stonewall && any_block) text += read_back_line(settings, settings.path_prefix);
        print_stdout_line(text + before_done + "DONE!\n");
    }
    return any_fell_short != 0;
}

// What the start gate's step between "all arrived" and "open" works on.
struct RankStart {
    MpiRun* run;
    double barrier_s;  // the time this rank waited in the barrier
};

// Between every writer of this rank reaching the gate and its opening: the
// end notices made ready, then one barrier for every rank, timed.
void barrier_across_ranks(void* context) {
    auto* start = static_cast<RankStart*>(context);
    expect_end_notices(start->run);
    const double barrier_start = MPI_Wtime();
    MPI_Barrier(MPI_COMM_WORLD);
    start->barrier_s = MPI_Wtime() - barrier_start;
}

// One rank's part in the run, between MPI_Init and MPI_Finalize.
int run_rank(const ProgramInfo& program, int argc, const char* const* argv, MpiRun* run, const char* host) {
    RunSettings settings;
    int exit_status = 0;
    // Every rank has the same command line: all settle it alike, rank 0 says
    // why. The path as typed names no file: each rank's own prefix, {host}
    // and {rank} filled in, is checked against the limit below, so a
    // stand-in takes its place here.
    std::vector<const char*> words(argv, argv + argc);
    const int path_index = first_positional_index(argc, argv) + 1;
    if (argc > path_index) words[path_index] = "p";
    if (!settle_command_line(program, argc, words.data(), &settings, &exit_status,
                             run->rank == 0 ? ArgumentNotes::print : ArgumentNotes::silent))
        return exit_status;
    if (argc > path_index) settings.path_prefix = argv[path_index];
    // Ctrl-C and SIGTERM (mpirun passes both on as SIGTERM) from now on stop
    // the writers at the block in hand; the ranks end together, as at the
    // end. A second signal changes nothing: the launcher's SIGKILL ends a
    // rank that cannot end (srun sends SIGINT, then SIGTERM, then SIGKILL).
    watch_stop_requests(request_signal_stop, true);
    settings.path_prefix = rank_prefix(settings.path_prefix, host, static_cast<uint32_t>(run->rank));
    const std::string& prefix = settings.path_prefix;
    const int long_rank = first_rank_with_long_names(prefix, run->rank);
    if (long_rank >= 0) {
        if (run->rank == 0)
            print_stderr_line(prefix_too_long_line(
                program.name, format_text(" on rank %d: the test file names would pass the system's limit of %zu "
                                          "characters",
                                          long_rank, platform_max_path_bytes - 1)));
        return 2;
    }
    if (refuse_record_path_on_every_rank(settings, program.name, run->rank)) return 2;
    const std::vector<std::string> hosts = all_host_names(host, run->ranks);
    RunNoteFacts facts = host_write_facts(program, settings, hosts, run->rank);
    if (argc > path_index) note_folder_base(rank_path_base(argv[path_index], host), host, &facts);
    if (refuse_on_memory(facts, host, run->rank)) return 2;
    RunRecord record = begin_record(program.name, argc, argv, settings);
    record.per_rank = true;
    if (run->rank == 0)
        print_stdout_line(mpi_banner(settings, static_cast<uint32_t>(run->ranks), count_hosts(hosts)));
    print_all_notes(rank_notes(program, facts), hosts, run->rank);

    RunCounters counters;
    const OwnedSignal all_done, gate_open;
    counters.all_done = all_done.signal;
    const std::unique_ptr<BlockTimes[]> times = give_block_times(settings, &counters);
    run->timed = times != nullptr;
    MpiWriters writers;
    StartGate gate;
    gate.open = gate_open.signal;
    const WorkerHook hook = mpi_writer_hook(&writers, settings.thread_count, settings.buffered);
    const std::string message_head =
        std::string(program.name) + ": rank " + std::to_string(run->rank) + " (" + host + "): ";
    WorkerJob model{0, nullptr, nullptr};
    model.options.message_head = message_head.c_str();
    model.options.print_completion = false;
    model.options.hook = &hook;
    model.options.gate = &gate;
    std::vector<WorkerJob> jobs;
    Stonewall stonewall;
    if (settings.seconds) {
        stonewall_open(&stonewall, &writers, &counters);
        run->stonewall = &stonewall;
    }
    std::vector<ThreadHandle> started = start_workers(program, settings, &counters, &jobs, model);

    // Files created and buffers taken on every rank, then one release for
    // all. A writer whose thread did not start has passed the gate already.
    run->counters = &counters;
    run->writing_threads = &writers.writing_threads;
    RankStart rank_start{run, 0.0};
    const uint64_t start_tick =
        gate_start_clock(&gate, static_cast<int32_t>(settings.thread_count), barrier_across_ranks, &rank_start);
    const double barrier_s = rank_start.barrier_s;
    const uint64_t start_ns = gate.start_ns;

    MonitorSource source = mpi_monitor_source(run, program.progress_verb);
    stonewall.start_tick = start_tick;
    if (settings.seconds) source.deadline_tick = start_tick + uint64_t{settings.seconds} * 1000u;
    const MonitorTotals last = run_monitor(source, start_tick, false, &record.samples);
    if (run->stonewall) stonewall_close(run->stonewall, run);
    finish_end_notices(run);
    // Writers still in a block after a stop's grace are not waited for: the
    // rank ends under them once the record is out (see the end).
    const int32_t stuck = counters.active_threads.load();
    if (stuck == 0)
        for (ThreadHandle thread : started) thread_join(thread);
    const RankRow row = rank_row(*run, writers, host, start_tick, barrier_s);
    MpiRunTimes gathered = gather_rank_records(counters, settings, start_ns, run->rank, run->ranks, hosts);
    std::string latency_lines;
    if (gathered.merged && settings.latency)
        latency_lines = format_latency_line(*gathered.merged, true) + format_stall_line(*gathered.merged, true);
    // Stopped by a signal (on any rank): said before DONE!, as vorlax does.
    const StopReason signalled = signal_stop_reason_of_run();
    if (signalled != StopReason::none && run->rank == 0)
        print_stderr_line(stop_line(program.name, signalled, last.total_kb, program.progress_verb, settings));
    const bool fell_short = report_run(run, settings, row, writers.outcomes, latency_lines, &record);
    int status = signalled != StopReason::none ? stop_exit_status(signalled) : fell_short ? 1 : 0;
    if (run->rank == 0) {
        record.ranks = std::move(gathered.ranks);
        record.total_mb = last.total_kb / 1024u;
        record.seconds = record.samples.empty() ? 0 : record.samples.back().seconds;
        record.times = gathered.merged.get();
        // As vorlax's: the run stopped at its time limit (each rank wrote on to the stonewall's count).
        record.stopped = signalled != StopReason::none                        ? stop_reason_name(signalled)
                         : record.stonewall && record.stonewall->reached ? "deadline"
                                                                          : nullptr;
        finish_record(settings, &record, &status);
    }
    if (stuck > 0) {  // nothing of theirs (the signals, counters, buffers) is freed under them
        MPI_Finalize();
        std::_Exit(status);
    }
    return status;
}

}  // namespace

int run_mpi_program(const ProgramInfo& program, int argc, char** argv) {
    platform_init_process();
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    MpiRun run;
    MPI_Comm_rank(MPI_COMM_WORLD, &run.rank);
    MPI_Comm_size(MPI_COMM_WORLD, &run.ranks);
    char host[MPI_MAX_PROCESSOR_NAME] = {};
    int host_length = 0;
    MPI_Get_processor_name(host, &host_length);
    const int exit_status = run_rank(program, argc, argv, &run, host);
    MPI_Finalize();
    return exit_status;
}
