#include "writer_thread/writer_thread.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "test_file/test_file.h"

namespace {

// The block loop from block up to end: one fill, one write and one add
// per block; timed, when each write began (in the slot) and the time of
// each whole one too. Stops at a stop request and at
// the first failed or short write, which it notes in *report. Returns the
// block it stopped at (whole blocks written so far).
template <bool timed>
int64_t write_blocks(FileHandle file, unsigned char* buffer, const WriterLayout& layout, WorkerSlot* slot,
                     WriterReport* report, int64_t block, int64_t end) {
    const size_t block_bytes = block_bytes_of(layout);
    for (; block < end; ++block) {
        if (run_stop_requested()) break;
        std::memset(buffer, test_file_fill_byte(block), block_bytes);
        size_t written = 0;
        int error = 0;
        uint64_t start_ticks = 0, end_ticks = 0;
        if constexpr (timed) {
            start_ticks = block_clock_now();
            note_block_start(slot, start_ticks);
        }
        const bool wrote = file_write(file, buffer, block_bytes, &written, &error);
        if constexpr (timed) end_ticks = block_clock_now();
        if (!wrote) {
            report->result = WriterResult::write_failed;
            report->error = error;
            break;
        }
        if (written != block_bytes) {
            report->result = WriterResult::write_short;
            report->last_write_bytes = written;
            break;
        }
        // Whole blocks only: a failed or short write is no block's time.
        if constexpr (timed) note_block_time(slot, start_ticks, end_ticks, block, layout.thread_index);
        add_block_kb(slot, layout.buffer_kb);
    }
    return block;
}

// The report of a writer that never reached its loop (result says why),
// after the steps in its place have run (worker_stopped_before_start).
WriterReport stopped_before_start(const WriterLayout& layout, WriterResult result, int error) {
    WriterReport report;
    report.result = result;
    report.error = error;
    worker_stopped_before_start(layout, writer_failure_words(result), error);
    return report;
}

}  // namespace

WriterReport write_test_file(const WriterLayout& layout, RunCounters* counters) {
    int error = 0;
    ForeignEntry foreign;
    const OpenFile file(layout.name.empty() ? invalid_file
                                            : file_create(layout.name.c_str(), layout.buffered, &error, &foreign));
    if (file.handle == invalid_file) {
        WriterReport report = stopped_before_start(layout, WriterResult::open_failed, error);
        report.foreign = foreign;
        return report;
    }
    const BlockBuffer buffer(block_bytes_of(layout), &error);
    if (!buffer.bytes) return stopped_before_start(layout, WriterResult::buffer_failed, error);
    worker_before_loop(layout);

    WorkerSlot* slot = &counters->slots[layout.thread_index];
    WriterReport report;
    int64_t block = 0;
    // Up to end, or to a stop; the hook may then have the writer write on.
    for (int64_t end = layout.block_count;;) {
        // Timed or not is chosen here, once a stretch: the untimed loop has no trace of it.
        block = slot->times ? write_blocks<true>(file.handle, buffer.bytes, layout, slot, &report, block, end)
                            : write_blocks<false>(file.handle, buffer.bytes, layout, slot, &report, block, end);
        if (block == end || report.result != WriterResult::completed) break;
        end = std::min(worker_blocks_after_stop(layout, block), layout.block_count);
        if (end <= block) break;
    }
    report.blocks_written = block;
    WorkerEnd loop_end;
    loop_end.file = file.handle;
    loop_end.blocks = block;
    loop_end.failure = writer_failure_words(report.result);
    loop_end.error = report.error;
    worker_after_loop(layout, &loop_end);
    if (loop_end.flush_failed && report.result == WriterResult::completed) {
        report.result = WriterResult::flush_failed;
        report.error = loop_end.error;
    }
    if (report.result == WriterResult::write_failed && !layout.buffered &&
        platform_is_unbuffered_refusal(report.error))
        report.alignment_bytes = file_unbuffered_alignment_bytes(file.handle);
    worker_print_done(layout, block);
    return report;
}

void writer_thread(void* raw_job) {
    const auto* job = static_cast<const WorkerJob*>(raw_job);
    const WriterLayout layout = worker_layout(*job);
    const WriterReport report = write_test_file(layout, job->counters);
    worker_finish(job->counters, layout.thread_index, writer_result_name(report.result), report.blocks_written,
                  describe_writer_failure(layout, report));
}
