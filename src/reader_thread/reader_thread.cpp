#include "reader_thread/reader_thread.h"

#include <algorithm>

#include "platform/platform.h"
#include "test_file/test_file.h"

namespace {

// Notes in *report every hole the file system keeps in the file's first
// whole_blocks blocks, with the blocks it lies in.
void find_holes(FileHandle file, const ReaderLayout& layout, int64_t whole_blocks, ReaderReport* report) {
    const uint64_t block_bytes = uint64_t{layout.buffer_kb} * 1024u;
    const uint64_t end = static_cast<uint64_t>(whole_blocks) * block_bytes;
    ByteRange hole{};
    for (uint64_t at = 0; at < end && file_next_hole(file, at, end, &hole); at = hole.end_bytes) {
        if (hole.end_bytes <= hole.start_bytes) break;  // no progress: trust no more answers
        if (report->holes.size() < holes_named)
            report->holes.push_back(BlockSpan{static_cast<int64_t>(hole.start_bytes / block_bytes),
                                              static_cast<int64_t>((hole.end_bytes - 1) / block_bytes)});
        ++report->hole_count;
    }
}

// The block loop: one read, one add and one check per block; timed, when
// each read began (in the slot) and the time of each whole one too. Notes in *report what it finds.
template <bool timed>
void read_blocks(FileHandle file, unsigned char* buffer, const ReaderLayout& layout, int64_t whole_blocks,
                 WorkerSlot* slot, ReaderReport* report) {
    const size_t block_bytes = block_bytes_of(layout);
    for (int64_t block = 0; block < whole_blocks; ++block) {
        if (run_stop_requested()) {
            report->stopped = true;
            break;
        }
        size_t got = 0;
        int error = 0;
        uint64_t start_ticks = 0, end_ticks = 0;
        if constexpr (timed) {
            start_ticks = block_clock_now();
            note_block_start(slot, start_ticks);
        }
        const bool read = file_read_at(file, buffer, block_bytes, static_cast<uint64_t>(block) * block_bytes, &got,
                                       &error);
        if constexpr (timed) end_ticks = block_clock_now();
        if (!read) {
            if (!layout.buffered && platform_is_unbuffered_refusal(error)) {
                report->refused = true;
                report->read_error = error;
                report->alignment_bytes = file_unbuffered_alignment_bytes(file);
                break;
            }
            if (report->unreadable_blocks++ == 0) {
                report->first_unreadable_block = block;
                report->read_error = error;
            }
            continue;
        }
        if (got != block_bytes) {
            report->ended_at_block = block;
            break;
        }
        // Whole blocks only: a failed or short read is no block's time.
        if constexpr (timed) note_block_time(slot, start_ticks, end_ticks, block, layout.thread_index);
        ++report->blocks_read;
        add_block_kb(slot, layout.buffer_kb);
        if (!check_read_block(file, buffer, layout, block, report)) break;
    }
}

}  // namespace

ReaderReport read_test_file(const ReaderLayout& layout, RunCounters* counters) {
    ReaderReport report;
    const OpenFile file(layout.name.empty()
                            ? invalid_file
                            : file_open_read(layout.name.c_str(), layout.buffered, &report.error, &report.foreign));
    if (file.handle == invalid_file) report.result = ReaderResult::open_failed;
    else if (!file_size_bytes(file.handle, &report.file_bytes, &report.error))
        report.result = ReaderResult::size_failed;
    const size_t block_bytes = block_bytes_of(layout);
    const BlockBuffer buffer(report.result == ReaderResult::completed ? block_bytes : 0, &report.error);
    if (report.result == ReaderResult::completed && !buffer.bytes) report.result = ReaderResult::buffer_failed;
    if (report.result != ReaderResult::completed) {
        worker_stopped_before_start(layout, reader_result_name(layout, report), report.error);
        return report;
    }

    const int64_t whole_blocks =
        std::min<int64_t>(layout.block_count, static_cast<int64_t>(report.file_bytes / block_bytes));
    find_holes(file.handle, layout, whole_blocks, &report);
    worker_before_loop(layout);
    WorkerSlot* slot = &counters->slots[layout.thread_index];
    // Timed or not is chosen here, once: the untimed loop has no trace of it.
    if (slot->times)
        read_blocks<true>(file.handle, buffer.bytes, layout, whole_blocks, slot, &report);
    else
        read_blocks<false>(file.handle, buffer.bytes, layout, whole_blocks, slot, &report);
    WorkerEnd loop_end;
    loop_end.file = file.handle;
    loop_end.blocks = report.blocks_read;
    worker_after_loop(layout, &loop_end);
    worker_print_done(layout, report.blocks_read);
    return report;
}

bool reader_report_clean(const ReaderLayout& layout, const ReaderReport& report) {
    const uint64_t run_bytes = static_cast<uint64_t>(layout.block_count) * layout.buffer_kb * 1024u;
    return report.result == ReaderResult::completed && report.file_bytes == run_bytes &&
           report.blocks_read == layout.block_count && report.bad_blocks == 0 && report.hole_count == 0;
}

void reader_thread(void* raw_job) {
    const auto* job = static_cast<const WorkerJob*>(raw_job);
    const ReaderLayout layout = worker_layout(*job);
    const ReaderReport report = read_test_file(layout, job->counters);
    // A read stopped early is short by request: only damage found before
    // the stop is worth a line.
    const bool damaged = report.bad_blocks != 0 || report.unreadable_blocks != 0 || report.hole_count != 0;
    worker_finish(job->counters, layout.thread_index, reader_result_name(layout, report), report.blocks_read,
                  report.stopped && !damaged ? std::string() : describe_reader_problems(layout, report));
}
