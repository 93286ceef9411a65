#include "mpi/mpi_driver.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "main/run_driver.h"
#include "main/run_record.h"
#include "mpi/mpi_monitor.h"
#include "notes/note_facts.h"
#include "mpi/mpi_names.h"
#include "mpi/mpi_notes.h"
#include "mpi/mpi_stonewall.h"
#include "mpi/mpi_record.h"
#include "mpi/mpi_summary.h"
#include "mpi/mpi_writers.h"
#include "latency/latency_lines.h"
#include "output/output.h"
#include "test_file/test_file.h"

namespace {

// The lowest rank whose own prefix makes test file names past the system's
// limit, or -1 when every rank's fit. Every rank joins.
int first_rank_with_long_names(const std::string& prefix, int rank) {
    std::string longest_name;
    const bool fits = test_file_name(prefix.c_str(), 98, platform_max_path_bytes, &longest_name);
    int mine = fits ? INT_MAX : rank, lowest = INT_MAX;
    MPI_Allreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    return lowest == INT_MAX ? -1 : lowest;
}

// Every rank's host name, in rank order.
std::vector<std::string> all_host_names(const char* host, int ranks) {
    std::vector<char> names(static_cast<size_t>(ranks) * MPI_MAX_PROCESSOR_NAME, '\0');
    MPI_Allgather(host, MPI_MAX_PROCESSOR_NAME, MPI_CHAR, names.data(), MPI_MAX_PROCESSOR_NAME, MPI_CHAR,
                  MPI_COMM_WORLD);
    std::vector<std::string> hosts;
    for (int rank = 0; rank < ranks; ++rank) hosts.emplace_back(&names[static_cast<size_t>(rank) * MPI_MAX_PROCESSOR_NAME]);
    return hosts;
}

// vorlax's facts for this rank's target, with the memory and page cache
// shared by every rank of its host: the ranks of a host write alike, so
// each counts the files (and those its names hold now) of them all.
RunNoteFacts host_write_facts(const ProgramInfo& program, const RunSettings& settings,
                              const std::vector<std::string>& hosts, int rank) {
    RunNoteFacts facts = write_note_facts(program.name, settings);
    facts.processes = static_cast<uint32_t>(std::count(hosts.begin(), hosts.end(), hosts[rank]));
    facts.total_bytes *= facts.processes;
    facts.reused_bytes *= facts.processes;
    return facts;
}

// Refuses the run on every rank when any rank's host would get more on a
// memory-backed folder than its memory can hold: the lowest such rank says
// why. Returns whether it did. Every rank joins.
bool refuse_on_memory(RunNoteFacts facts, const char* host, int rank) {
    facts.folder = std::string(host) + ":" + facts.folder;
    const std::string line = memory_refusal_line(facts);
    int mine = line.empty() ? INT_MAX : rank, lowest = INT_MAX;
    MPI_Allreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    if (lowest == rank) print_stderr_line(line);
    return lowest != INT_MAX;
}

// This rank's notes: vorlax's for its own target (facts from
// host_write_facts), and whether the launcher's session folder is on the
// file system of the test files. None for a folder that is not there
// (same_file_system holds only for paths that exist): the rank's failure
// line says why it wrote nothing.
std::vector<std::string> rank_notes(const ProgramInfo& program, const RunNoteFacts& facts) {
    if (!same_file_system(facts.folder.c_str(), facts.folder.c_str())) return {};
    std::vector<std::string> notes = run_notes(facts);
    const LauncherSession session = launcher_session(
        std::getenv("OMPI_MCA_orte_top_session_dir"), std::getenv("PMIX_SERVER_TMPDIR"), std::getenv("SLURM_JOB_ID"));
    if (!session.folder.empty() && same_file_system(session.folder.c_str(), facts.folder.c_str())) {
        const std::string note = session_folder_note(program.name, session, facts.folder, facts.memory_backed);
        if (!note.empty()) notes.push_back(note);
    }
    return notes;
}

// Gathers every rank's notes to rank 0, which prints them on stderr, each
// once with the ranks it holds for. Every rank joins.
void print_all_notes(const std::vector<std::string>& notes, const std::vector<std::string>& hosts, int rank) {
    std::string mine;
    for (const std::string& note : notes) mine += note;
    int length = static_cast<int>(mine.size());
    const size_t ranks = hosts.size();
    std::vector<int> lengths(rank == 0 ? ranks : 0), offsets(rank == 0 ? ranks : 0);
    MPI_Gather(&length, 1, MPI_INT, lengths.data(), 1, MPI_INT, 0, MPI_COMM_WORLD);
    int total = 0;
    for (size_t r = 0; r < lengths.size(); ++r) {
        offsets[r] = total;
        total += lengths[r];
    }
    std::vector<char> all(static_cast<size_t>(total) + 1);
    MPI_Gatherv(mine.data(), length, MPI_CHAR, all.data(), lengths.data(), offsets.data(), MPI_CHAR, 0,
                MPI_COMM_WORLD);
    if (rank != 0) return;
    std::vector<std::vector<std::string>> by_rank(ranks);
    for (size_t r = 0; r < ranks; ++r) {
        const std::string text(all.data() + offsets[r], static_cast<size_t>(lengths[r]));
        for (size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            if (end == std::string::npos) end = text.size() - 1;
            by_rank[r].push_back(text.substr(start, end - start + 1));
        }
    }
    print_stderr_lines(merge_rank_notes(by_rank, hosts));
}

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
        if (!run->stonewall) text += read_back_line(settings, settings.path_prefix);
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
    const RunNoteFacts facts = host_write_facts(program, settings, hosts, run->rank);
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
    for (ThreadHandle thread : started) thread_join(thread);
    const RankRow row = rank_row(*run, writers, host, start_tick, barrier_s);
    MpiRunTimes gathered = gather_rank_records(counters, settings, start_ns, run->rank, run->ranks, hosts);
    std::string latency_lines;
    if (gathered.merged && settings.latency)
        latency_lines = format_latency_line(*gathered.merged, true) + format_stall_line(*gathered.merged, true);
    const bool fell_short = report_run(run, settings, row, writers.outcomes, latency_lines, &record);
    int status = fell_short ? 1 : 0;
    if (run->rank == 0) {
        record.ranks = std::move(gathered.ranks);
        record.total_mb = last.total_kb / 1024u;
        record.seconds = record.samples.empty() ? 0 : record.samples.back().seconds;
        record.times = gathered.merged.get();
        // As vorlax's: the run stopped at its time limit (each rank wrote on to the stonewall's count).
        record.stopped = record.stonewall && record.stonewall->reached ? "deadline" : nullptr;
        finish_record(settings, &record, &status);
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
