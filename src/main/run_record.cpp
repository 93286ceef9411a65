#include "main/run_record.h"

#include <cstdio>

#include "output/output.h"
#include "latency/latency_lines.h"
#include "test_file/test_file.h"

std::unique_ptr<BlockTimes[]> give_block_times(const RunSettings& settings, RunCounters* counters) {
    if (!times_blocks(settings)) return nullptr;
    std::unique_ptr<BlockTimes[]> times(new BlockTimes[settings.thread_count]);
    const BlockClockScale clock = block_clock_start();
    for (uint32_t i = 0; i < settings.thread_count; ++i) {
        block_times_reset(&times[i], uint64_t{settings.stall_ms} * 1000000u);
        counters->slots[i].times = &times[i];
        counters->slots[i].clock = clock;
    }
    return times;
}

void merge_block_times(const RunCounters& counters, uint32_t thread_count, uint32_t block_kb, uint64_t origin_ns,
                       uint32_t rank, BlockTimes* into) {
    block_times_reset(into, thread_count && counters.slots[0].times ? counters.slots[0].times->stall_ns : 0);
    const uint64_t now_ns = tick_ns();
    for (uint32_t i = 0; i < thread_count; ++i) {
        const WorkerSlot& slot = counters.slots[i];
        if (!slot.times) continue;
        if (slot_counted_out(slot)) {
            block_times_merge(into, *slot.times);
            continue;
        }
        // A worker still in its block after a stop may be writing its
        // times: they are left out (its record says "running"); the block
        // in hand is a stall of its time so far.
        const uint64_t start_ticks = slot.block_start_ticks.load(std::memory_order_relaxed);
        const uint64_t start_ns = start_ticks ? block_clock_ns(slot.clock, start_ticks) : 0;
        if (start_ns && now_ns > start_ns)
            block_times_add_unfinished(into, start_ns, now_ns - start_ns,
                                       static_cast<int64_t>(slot.kb.load() / block_kb), i);
    }
    block_times_rebase(into, origin_ns, rank);
}

RunRecord begin_record(const char* program, int argc, const char* const* argv, const RunSettings& settings) {
    RunRecord record;
    record.program = program;
    record.command.assign(argv, argv + argc);
    record.started = utc_text(std::time(nullptr));
    record.settings = settings;
    record.stall_ms = settings.stall_ms;
    if (settings.json_path) {
        record.machine = machine_facts();
        record.target = target_facts(prefix_folder(settings.path_prefix.c_str()).c_str());
    }
    return record;
}

std::string still_in_block_reason() {
    return format_text("still in a block after %.0f s, not waited for", stop_grace_ms / 1000.0);
}

std::vector<ThreadRecord> thread_records(const RunCounters& counters, uint32_t thread_count, uint32_t block_kb) {
    std::vector<ThreadRecord> threads;
    for (uint32_t i = 0; i < thread_count; ++i) {
        const WorkerSlot& slot = counters.slots[i];
        // A worker still in its block (a stop that did not wait for it) has counted only its KB.
        const bool out = slot_counted_out(slot);
        const int64_t blocks = out ? slot.blocks : static_cast<int64_t>(slot.kb.load() / block_kb);
        threads.push_back(ThreadRecord{i, out ? slot.result : "running", blocks,
                                       static_cast<uint64_t>(blocks) * block_kb / 1024u,
                                       out ? slot.reason : still_in_block_reason()});
    }
    return threads;
}

const char* stop_reason_name(StopReason reason) {
    switch (reason) {
        case StopReason::none: return nullptr;
        case StopReason::interrupt: return "interrupt";
        case StopReason::terminate: return "terminate";
        case StopReason::deadline: return "deadline";
    }
    return nullptr;
}

void print_latency_lines(const RunSettings& settings, const BlockTimes& times, bool with_rank) {
    if (!settings.latency) return;
    print_stdout_line(format_latency_line(times, with_rank) + format_stall_line(times, with_rank));
}

void mark_stopped_threads(RunRecord* record, int64_t file_blocks) {
    if (!record->stopped) return;
    auto mark = [&](std::vector<ThreadRecord>* threads) {
        for (ThreadRecord& thread : *threads)
            if (thread.result == "completed" && thread.blocks < file_blocks) thread.result = "stopped";
    };
    mark(&record->threads);
    for (RankRecord& rank : record->ranks) mark(&rank.threads);
}

bool refuse_record_path(const RunSettings& settings, const char* program) {
    if (!settings.json_path) return false;
    std::string failure;
    // The record would overwrite a test file before it is read, or be
    // overwritten by one.
    for (uint32_t i = 0; i < settings.thread_count && failure.empty(); ++i) {
        std::string test_file;
        if (test_file_name(settings.path_prefix.c_str(), i, platform_max_path_bytes, &test_file) &&
            names_one_file(settings.json_path, test_file.c_str()))
            failure = std::string(settings.json_path) + ": cannot write the run record: it is the run's test file " +
                      test_file + "; name another file";
    }
    if (failure.empty() && probe_record_file(settings.json_path, &failure)) return false;
    print_stderr_line(std::string(program) + ": " + failure + "\n");
    return true;
}

void finish_record(const RunSettings& settings, RunRecord* record, int* exit_status) {
    if (!settings.json_path) return;
    mark_stopped_threads(record, test_file_block_count(settings.max_gb, settings.buffer_kb));
    record->notes = printed_notes();
    record->exit_status = *exit_status;
    std::string failure;
    if (write_record_file(settings.json_path, format_record(*record), &failure)) return;
    print_stderr_line(std::string(record->program) + ": " + failure + "\n");
    if (*exit_status == 0) *exit_status = 1;
}
