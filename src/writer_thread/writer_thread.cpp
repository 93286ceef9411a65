#include "writer_thread/writer_thread.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "test_file/test_file.h"

namespace {

// The block loop from block up to end: one fill, one write and one add
// per block; timed, the write's time too. Stops at a stop request and at
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
        uint64_t start_ns = 0;
        if constexpr (timed) start_ns = tick_ns();
        const bool wrote = file_write(file, buffer, block_bytes, &written, &error);
        if constexpr (timed) note_block_time(slot, start_ns, tick_ns(), block, layout.thread_index);
        if (!wrote) {
            *report = WriterReport{WriterResult::write_failed, block, 0, error, 0};
            break;
        }
        if (written != block_bytes) {
            *report = WriterReport{WriterResult::write_short, block, written, 0, 0};
            break;
        }
        add_block_kb(slot, layout.buffer_kb);
    }
    return block;
}

}  // namespace

WriterReport write_test_file(const WriterLayout& layout, RunCounters* counters) {
    int error = 0;
    ForeignEntry foreign;
    FileHandle file = layout.name.empty() ? invalid_file
                                          : file_create(layout.name.c_str(), layout.buffered, &error, &foreign);
    if (file == invalid_file) {
        WriterReport report = writer_stopped_before_start(layout, WriterResult::open_failed, error);
        report.foreign = foreign;
        return report;
    }
    unsigned char* buffer = worker_take_buffer(file, layout, &error);
    if (!buffer) return writer_stopped_before_start(layout, WriterResult::buffer_failed, error);
    const WriterHook* hook = layout.options.writer_hook;
    worker_at_gate(layout);
    if (hook && hook->before_first_block) hook->before_first_block(hook->context, layout.thread_index);

    WorkerSlot* slot = &counters->slots[layout.thread_index];
    WriterReport report = WriterReport{WriterResult::completed, 0, 0, 0, 0};
    int64_t block = 0;
    // Up to end, or to a stop; a hook may then have the writer write on.
    for (int64_t end = layout.block_count;;) {
        // Timed or not is chosen here, once a stretch: the untimed loop has no trace of it.
        block = slot->times ? write_blocks<true>(file, buffer, layout, slot, &report, block, end)
                            : write_blocks<false>(file, buffer, layout, slot, &report, block, end);
        if (block == end || report.result != WriterResult::completed || !hook || !hook->blocks_after_stop) break;
        end = std::min(hook->blocks_after_stop(hook->context, layout.thread_index, block), layout.block_count);
        if (end <= block) break;
    }
    report.blocks_written = block;
    if (hook) hook->after_last_block(hook->context, layout.thread_index, file, &report);
    if (report.result == WriterResult::write_failed && !layout.buffered &&
        platform_is_unbuffered_refusal(report.error))
        report.alignment_bytes = file_unbuffered_alignment_bytes(file);
    worker_close(file, buffer, layout, block);
    return report;
}

void writer_thread(void* raw_job) {
    const auto* job = static_cast<const WorkerJob*>(raw_job);
    const WriterLayout layout = worker_layout(*job);
    const WriterReport report = write_test_file(layout, job->counters);
    worker_finish(job->counters, layout.thread_index, writer_result_name(report.result), report.blocks_written,
                  describe_writer_failure(layout, report));
}
