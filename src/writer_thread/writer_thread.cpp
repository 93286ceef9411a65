#include "writer_thread/writer_thread.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "output/output.h"
#include "platform/platform.h"
#include "test_file/test_file.h"

namespace {

WriterReport report_of(WriterResult result, int64_t blocks, size_t bytes = 0, int error = 0) {
    return WriterReport{result, blocks, bytes, error, 0};
}

// A writer that cannot write at all still lets the gate and the count of
// writing threads know.
WriterReport stop_before_start(const WriterLayout& layout, RunCounters* counters, WriterResult result, int error) {
    gate_skip(layout.gate);
    end_writing(counters);
    return report_of(result, 0, 0, error);
}

}  // namespace

WriterReport write_test_file(const WriterLayout& layout, RunCounters* counters) {
    int error = 0;
    ForeignEntry foreign;
    FileHandle file = file_create(layout.name.c_str(), layout.buffered, &error, &foreign);
    if (file == invalid_file) {
        WriterReport report = stop_before_start(layout, counters, WriterResult::open_failed, error);
        report.foreign = foreign;
        return report;
    }

    const size_t block_bytes = static_cast<size_t>(layout.buffer_kb) * 1024u;
    auto* buffer = static_cast<unsigned char*>(pages_alloc(block_bytes, &error));
    if (!buffer) {
        file_close(file);
        return stop_before_start(layout, counters, WriterResult::buffer_failed, error);
    }
    gate_pass(layout.gate);

    WriterReport report = report_of(WriterResult::completed, 0);
    int64_t block = 0;
    for (; block < layout.block_count; ++block) {
        std::memset(buffer, test_file_fill_byte(block), block_bytes);
        size_t written = 0;
        if (!file_write(file, buffer, block_bytes, &written, &error)) {
            report = report_of(WriterResult::write_failed, block, 0, error);
            break;
        }
        if (written != block_bytes) {
            report = report_of(WriterResult::write_short, block, written, 0);
            break;
        }
        counters->total_kb_written.fetch_add(layout.buffer_kb, std::memory_order_relaxed);
    }
    report.blocks_written = block;
    report.end_tick = tick_ms();
    end_writing(counters);
    if (report.result == WriterResult::write_failed && !layout.buffered &&
        platform_is_unbuffered_refusal(report.error))
        report.alignment_bytes = file_unbuffered_alignment_bytes(file);
    if (layout.flush_at_end) {
        const bool flushed = file_sync(file, &error);
        report.flush_ms = tick_ms() - report.end_tick;
        if (!flushed && report.result == WriterResult::completed) {
            report.result = WriterResult::flush_failed;
            report.error = error;
        }
    }

    if (layout.print_completion) print_thread_done(layout.thread_index, block);
    pages_free(buffer, block_bytes);
    file_close(file);
    return report;
}

void writer_thread(void* raw_job) {
    auto* job = static_cast<WorkerJob*>(raw_job);
    const RunSettings& settings = *job->settings;
    RunCounters* counters = job->counters;

    WriterLayout layout{job->thread_index, std::string(),
                        test_file_block_count(settings.max_gb, settings.buffer_kb), settings.buffer_kb,
                        settings.buffered, job->gate, job->flush_at_end, job->print_completion,
                        job->message_head};
    // The prefix was checked against the limit before any thread started.
    bool named = test_file_name(settings.path_prefix, job->thread_index, platform_max_path_bytes, &layout.name);
    WriterReport report = named ? write_test_file(layout, counters)
                                : stop_before_start(layout, counters, WriterResult::open_failed, 0);
    const bool loop_reached =
        report.result != WriterResult::open_failed && report.result != WriterResult::buffer_failed;
    job->outcome = WorkerOutcome{loop_reached ? report.blocks_written : -1, report.result != WriterResult::completed,
                                 report.end_tick, report.flush_ms, writer_failure_words(report.result), report.error};
    if (report.result != WriterResult::completed) {
        std::fprintf(stderr, "%s\n", describe_writer_failure(layout, report).c_str());
        counters->failed_threads.fetch_add(1);
    }
    count_out(counters);
}
