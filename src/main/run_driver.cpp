#include "main/run_driver.h"
#include "main/run_notes.h"

#include <cstdio>
#include <vector>

#include "platform/platform.h"
#include "progress/progress.h"
#include "settings/settings.h"
#include "test_file/test_file.h"
#include "writer_thread/writer_thread.h"

#ifndef VORLAX_VERSION
#define VORLAX_VERSION "unknown"
#endif

namespace {

// Process-wide run state: the settings are written before the first writer
// starts and only read afterwards; the counters change only atomically.
RunSettings run_settings;
RunCounters run_counters;

void print_line(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

// Counts out a writer whose thread could not be started, so the monitor
// never waits for it.
void count_out_unstarted(uint32_t thread_index, int error) {
    std::string name;
    test_file_name(run_settings.path_prefix, thread_index, platform_max_path_bytes, &name);
    std::fprintf(stderr, "vorlax: %s: cannot start writer thread %u: %s; use fewer threads\n", name.c_str(),
                 thread_index, platform_error_text(error).c_str());
    run_counters.failed_threads.fetch_add(1);
    if (run_counters.active_threads.fetch_sub(1) == 1) signal_set(run_counters.all_done);
}

// Prints a progress line once a second while writers run, and one last line
// with the final total as soon as the last writer has counted itself out.
void monitor(uint64_t start_tick) {
    uint64_t prev_tick = start_tick;
    uint64_t prev_mb = 0;
    bool running = run_counters.active_threads.load() != 0;
    while (running) {
        uint64_t now = tick_ms();
        uint64_t due = prev_tick + 1000;
        if (due > now) signal_wait_ms(run_counters.all_done, static_cast<uint32_t>(due - now));
        now = tick_ms();
        // Test the count before reading the total: once it is 0, every
        // writer's last add is in the total this line shows.
        running = run_counters.active_threads.load() != 0;
        uint64_t total_kb = run_counters.total_kb_written.load();
        ProgressLine line = format_progress(ProgressSample{start_tick, now, prev_tick, total_kb, prev_mb});
        print_line(line.text);
        prev_mb = line.mb;
        prev_tick = now;
    }
}

// Says on stderr, before any writer starts, when the figures of this run
// would measure memory rather than the disk.
void print_run_notes(const RunSettings& settings) {
    RunNoteFacts facts;
    facts.buffered = settings.buffered;
    facts.folder = prefix_folder(settings.path_prefix);
    facts.memory_backed = folder_is_memory_backed(facts.folder.c_str());
    facts.available_bytes = available_memory_bytes();
    facts.total_bytes = static_cast<uint64_t>(settings.thread_count) *
                        static_cast<uint64_t>(test_file_block_count(settings.max_gb, settings.buffer_kb)) *
                        settings.buffer_kb * 1024u;
    for (const std::string& note : run_notes(facts)) std::fputs(note.c_str(), stderr);
}

}  // namespace

int run_vorlax(int argc, const char* const* argv) {
    platform_init_process();
    switch (parse_settings(argc, argv, &run_settings)) {
        case ParseOutcome::usage:
            print_line(usage_text);
            return 2;
        case ParseOutcome::help:
            print_line(usage_text);
            return 0;
        case ParseOutcome::version:
            print_line("VORLAX " VORLAX_VERSION "\n");
            return 0;
        case ParseOutcome::prefix_too_long:
            std::fprintf(stderr, "vorlax: path prefix too long: the test file names would pass the system's limit "
                                 "of %zu characters; use a shorter path\n",
                         platform_max_path_bytes - 1);
            return 2;
        case ParseOutcome::run:
            break;
    }
    print_banner(run_settings);
    print_run_notes(run_settings);

    const uint32_t thread_count = run_settings.thread_count;
    run_counters.all_done = signal_create();
    run_counters.active_threads.store(static_cast<int32_t>(thread_count));
    std::vector<WriterJob> jobs(thread_count);
    std::vector<ThreadHandle> started;
    started.reserve(thread_count);
    for (uint32_t index = 0; index < thread_count; ++index) {
        jobs[index] = WriterJob{index, &run_settings, &run_counters};
        ThreadHandle thread;
        int error = 0;
        if (thread_start(writer_thread, &jobs[index], &thread, &error))
            started.push_back(thread);
        else
            count_out_unstarted(index, error);
    }

    const uint64_t start_tick = tick_ms();
    sleep_ms(0);
    monitor(start_tick);
    print_line("DONE!\n");

    for (ThreadHandle thread : started) thread_join(thread);
    signal_destroy(run_counters.all_done);
    return run_counters.failed_threads.load() == 0 ? 0 : 1;
}
