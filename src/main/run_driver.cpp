#include "main/run_driver.h"

#include <cstdint>
#include <cstdlib>

#include "main/run_record.h"
#include "monitor/monitor.h"
#include "output/output.h"
#include "test_file/test_file.h"
#include "worker/worker_messages.h"

namespace {

// Counts out a worker whose thread could not be started, so the monitor
// never waits for it.
void count_out_unstarted(const ProgramInfo& program, const WorkerJob& job, int error) {
    const WorkerLayout layout = worker_layout(job);
    print_stderr_line(thread_start_failure_line(layout, program.worker_role, error) + "\n");
    // It passes the start gate, and the hook hears of it, as of any worker
    // that never reached its loop, so that nothing waits for it.
    worker_stopped_before_start(layout, thread_not_started_words, error);
    job.counters->slots[job.thread_index].result = "not_started";
    job.counters->slots[job.thread_index].reason = thread_start_failure_line(layout, program.worker_role, error);
    job.counters->failed_threads.fetch_add(1);
    count_out(job.counters, job.thread_index);
}

}  // namespace

bool settle_command_line(const ProgramInfo& program, int argc, const char* const* argv, RunSettings* settings,
                         int* exit_status, ArgumentNotes notes) {
    const bool speak = notes != ArgumentNotes::silent;
    const bool writing = program.help.writing;
    const ParseOutcome outcome = parse_settings(argc, argv, settings, writing);
    switch (outcome) {
        case ParseOutcome::usage:
        case ParseOutcome::unknown_option:
        case ParseOutcome::too_many_arguments:
            if (speak) {
                print_stderr_line(command_line_refusal(program.name, outcome, argc, argv, writing));
                print_stdout_line(program.usage);
            }
            *exit_status = 2;
            return false;
        case ParseOutcome::help:
            if (speak) print_stdout_line(std::string(program.usage) + format_help(program.help));
            *exit_status = 0;
            return false;
        case ParseOutcome::version:
            if (speak) print_stdout_line(program.version_line);
            *exit_status = 0;
            return false;
        case ParseOutcome::prefix_too_long:
        case ParseOutcome::quote_in_prefix:
        case ParseOutcome::forbidden_in_prefix:
        case ParseOutcome::option_as_prefix:
        case ParseOutcome::bad_option_value:
            if (speak) print_stderr_line(command_line_refusal(program.name, outcome, argc, argv, writing));
            *exit_status = 2;
            return false;
        case ParseOutcome::run:
            break;
    }
    if (notes == ArgumentNotes::print)
        print_stderr_lines(argument_notes(argc, argv, program.name, program.activity));
    return true;
}

std::vector<ThreadHandle> start_workers(const ProgramInfo& program, const RunSettings& settings,
                                        RunCounters* counters, std::vector<WorkerJob>* jobs,
                                        const WorkerJob& model) {
    const uint32_t thread_count = settings.thread_count;
    counters->active_threads.store(static_cast<int32_t>(thread_count));
    WorkerJob job = model;
    job.settings = &settings;
    job.counters = counters;
    jobs->assign(thread_count, job);
    std::vector<ThreadHandle> started;
    started.reserve(thread_count);
    for (uint32_t index = 0; index < thread_count; ++index) {
        (*jobs)[index].thread_index = index;
        ThreadHandle thread;
        int error = 0;
        if (thread_start(program.worker, &(*jobs)[index], &thread, &error))
            started.push_back(thread);
        else
            count_out_unstarted(program, (*jobs)[index], error);
    }
    return started;
}

std::string stop_line(const char* program, StopReason reason, uint64_t total_kb, const char* verb,
                      const RunSettings& settings, int32_t stuck_threads) {
    const char* cause = reason == StopReason::terminate  ? "by SIGTERM"
                        : reason == StopReason::deadline ? "at its time limit"
                                                         : "by Ctrl-C";
    std::string first, last;
    test_file_name(settings.path_prefix.c_str(), 0, SIZE_MAX, &first);
    test_file_name(settings.path_prefix.c_str(), settings.thread_count - 1, SIZE_MAX, &last);
    const std::string files = settings.thread_count == 1 ? first : first + " to " + last;
    const std::string stuck =
        stuck_threads <= 0 ? std::string()
                           : format_text("; %d %s still in a block after %.0f s, not waited for", stuck_threads,
                                         stuck_threads == 1 ? "thread was" : "threads were", stop_grace_ms / 1000.0);
    return format_text("%s: run stopped %s: %llu MB %s; ", program, cause,
                       static_cast<unsigned long long>(total_kb / 1024u), verb) +
           (std::string(verb) == "written" ? "the test files stay as written: " : "the test files: ") + files +
           stuck + "\n";
}

int stop_exit_status(StopReason reason) {
    if (reason == StopReason::interrupt) return 130;
    if (reason == StopReason::terminate) return 143;
    return -1;
}

int run_program(const ProgramInfo& program, int argc, const char* const* raw_argv) {
    platform_init_process();
    // UTF-8 from here on, whatever the system's own encoding of arguments.
    const std::vector<std::string> arguments = platform_arguments(argc, raw_argv);
    std::vector<const char*> argv_words;
    for (const std::string& argument : arguments) argv_words.push_back(argument.c_str());
    argv_words.push_back(nullptr);
    const char* const* argv = argv_words.data();
    // The run's state lives here until every worker is joined: the settings
    // are written before the first worker starts and only read afterwards;
    // the counters change only atomically.
    RunSettings run_settings;
    RunCounters run_counters;
    int exit_status = 0;
    if (!settle_command_line(program, argc, argv, &run_settings, &exit_status)) return exit_status;
    const std::string refusal = program.refusal ? program.refusal(run_settings) : std::string();
    if (!refusal.empty()) {
        print_stderr_line(refusal);
        return 2;
    }
    // Ctrl-C and SIGTERM from now on stop the workers at the block in hand.
    watch_stop_requests(request_run_stop);
    // A record that could not be written is known before the first byte
    // (its check makes and removes a file: a Ctrl-C now leaves none behind).
    if (refuse_record_path(run_settings, program.name)) return 2;
    RunRecord record = begin_record(program.name, argc, argv, run_settings);
    std::unique_ptr<BlockTimes[]> times = give_block_times(run_settings, &run_counters);
    print_banner(run_settings, program.activity);
    RunNoteFacts facts;
    if (program.note_facts) {
        facts = program.note_facts(program.name, run_settings);
        if (program.prepare_files) program.prepare_files(run_settings, &facts);
        print_stderr_lines(run_notes(facts));
    }

    const OwnedSignal all_done, gate_open;
    run_counters.all_done = all_done.signal;
    // Lines on stderr about a worker are headed by the program's own name.
    const std::string message_head = std::string(program.name) + ": ";
    StartGate gate;
    gate.open = gate_open.signal;
    WorkerJob model{};
    model.options.message_head = message_head.c_str();
    model.options.gate = &gate;
    model.options.files_found = facts.files_found;
    std::vector<WorkerJob> jobs;
    std::vector<ThreadHandle> started = start_workers(program, run_settings, &run_counters, &jobs, model);

    const uint64_t start_tick = gate_start_clock(&gate, static_cast<int32_t>(run_settings.thread_count));
    const uint64_t start_ns = gate.start_ns;
    // Gives up the rest of this time slice, so that on a busy machine the
    // workers just started get a core before the monitor takes its first
    // look at the counters.
    sleep_ms(0);
    MonitorSource source = local_monitor_source(&run_counters, program.progress_verb);
    if (run_settings.seconds) source.deadline_tick = start_tick + uint64_t{run_settings.seconds} * 1000u;
    const MonitorTotals last = run_monitor(source, start_tick, program.last_line_if_counted, &record.samples);
    // A run that ends at its own time limit ends as one that wrote all it had
    // to: no stop line, unless a thread was still in a block after the grace.
    const StopReason stop = run_stop_reason();
    const int32_t stuck = run_counters.active_threads.load();
    if (stop != StopReason::none && (stop != StopReason::deadline || stuck > 0))
        print_stderr_line(stop_line(program.name, stop, last.total_kb, program.progress_verb, run_settings, stuck));
    // A write run cut short may have written no more than the page cache took.
    const std::string cache_note = stop != StopReason::none && std::string(program.progress_verb) == "written"
                                       ? early_end_cache_note(facts, last.total_kb * 1024u)
                                       : std::string();
    if (!cache_note.empty()) print_stderr_line(cache_note);
    // The workers that counted themselves out have final times; one still
    // in its block after a stop (stuck) is taken as far as it got.
    std::unique_ptr<BlockTimes> merged(times ? new BlockTimes : nullptr);
    if (merged) merge_block_times(run_counters, run_settings.thread_count, run_settings.buffer_kb, start_ns, 0,
                                   merged.get());
    if (merged) print_latency_lines(run_settings, *merged, false);
    // The record, as much as there is, with the run's exit status.
    auto recorded = [&](int status) {
        record.threads = thread_records(run_counters, run_settings.thread_count, run_settings.buffer_kb);
        record.total_mb = last.total_kb / 1024u;
        record.seconds = record.samples.empty() ? 0 : record.samples.back().seconds;
        record.stopped = stop_reason_name(stop);
        record.times = merged.get();
        finish_record(run_settings, &record, &status);
        return status;
    };
    print_stdout_line("DONE!\n");
    // Workers still in a block after a stop are not waited for: the process
    // ends under them (their lines are out, and nothing of theirs is freed).
    if (stuck > 0) std::_Exit(recorded(stop_exit_status(stop) >= 0 ? stop_exit_status(stop) : 1));

    for (ThreadHandle thread : started) thread_join(thread);
    return recorded(stop_exit_status(stop) >= 0 ? stop_exit_status(stop)
                    : run_counters.failed_threads.load() == 0 ? 0 : 1);
}
