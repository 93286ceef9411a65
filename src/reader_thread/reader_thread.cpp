#include "reader_thread/reader_thread.h"

#include <algorithm>
#include <cstdio>

#include "output/output.h"
#include "platform/platform.h"
#include "test_file/test_file.h"

namespace {

// Reads the file from its start, in whole blocks of buffer, to the first
// byte that is not 0 (within the largest block size and one block), then
// the byte at twice that offset; gives the block size the file was written
// with, or 0 when these do not look like another block size.
uint32_t find_written_block_kb(FileHandle file, unsigned char* buffer, const ReaderLayout& layout,
                               uint64_t file_bytes) {
    const size_t block_bytes = static_cast<size_t>(layout.buffer_kb) * 1024u;
    const uint64_t scan_end = std::min<uint64_t>(file_bytes, (uint64_t{32768} << 10) + block_bytes);
    size_t got = 0;
    int error = 0;
    for (uint64_t at = 0; at < scan_end; at += block_bytes) {
        if (!file_read_at(file, buffer, block_bytes, at, &got, &error) || got == 0) return 0;
        const size_t offset = first_mismatch(buffer, got, 0);
        if (offset == got) continue;
        const uint64_t change = at + offset;
        const uint8_t value = buffer[offset];
        int twice = -1;
        if (2 * change < file_bytes) {
            const uint64_t start = 2 * change / block_bytes * block_bytes;
            if (!file_read_at(file, buffer, block_bytes, start, &got, &error) || got <= 2 * change - start) return 0;
            twice = buffer[2 * change - start];
        }
        return written_block_kb(change, value, twice, layout.buffer_kb);
    }
    return 0;
}

// Checks block, just read into buffer, and notes it in *report when bad.
// Returns false when the file turns out to have another block size, so
// reading it further would only pile up bad blocks.
bool check_block(FileHandle file, unsigned char* buffer, const ReaderLayout& layout, int64_t block,
                 ReaderReport* report) {
    const size_t block_bytes = static_cast<size_t>(layout.buffer_kb) * 1024u;
    const uint8_t expected = test_file_fill_byte(block);
#ifdef VORLAX_READ_UNCHECKED
    return true;  // the benchmark's build: what reading costs without the check
#endif
    if (first_mismatch(buffer, block_bytes, expected) == block_bytes) return true;
    if (report->bad_blocks++ > 0) return true;
    report->first_bad_block = block;
    report->first_damage = classify_damage(buffer, block_bytes, expected);
    // Blocks 0 and 1 whole would prove the run's block size; a bad one of
    // them may mean the file was written with another.
    if (block <= 1) report->written_kb = find_written_block_kb(file, buffer, layout, report->file_bytes);
    return report->written_kb == 0;
}

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

}  // namespace

ReaderReport read_test_file(const ReaderLayout& layout, RunCounters* counters) {
    ReaderReport report;
    FileHandle file = file_open_read(layout.name.c_str(), layout.buffered, &report.error, &report.foreign);
    if (file == invalid_file) {
        report.result = ReaderResult::open_failed;
        return report;
    }
    const size_t block_bytes = static_cast<size_t>(layout.buffer_kb) * 1024u;
    unsigned char* buffer = nullptr;
    if (!file_size_bytes(file, &report.file_bytes, &report.error))
        report.result = ReaderResult::size_failed;
    else if (!(buffer = static_cast<unsigned char*>(pages_alloc(block_bytes, &report.error))))
        report.result = ReaderResult::buffer_failed;
    if (!buffer) {
        file_close(file);
        return report;
    }

    const int64_t whole_blocks =
        std::min<int64_t>(layout.block_count, static_cast<int64_t>(report.file_bytes / block_bytes));
    find_holes(file, layout, whole_blocks, &report);
    for (int64_t block = 0; block < whole_blocks; ++block) {
        size_t got = 0;
        int error = 0;
        if (!file_read_at(file, buffer, block_bytes, static_cast<uint64_t>(block) * block_bytes, &got, &error)) {
            if (!layout.buffered && platform_is_unbuffered_refusal(error)) {
                report.refused = true;
                report.read_error = error;
                report.alignment_bytes = file_unbuffered_alignment_bytes(file);
                break;
            }
            if (report.unreadable_blocks++ == 0) {
                report.first_unreadable_block = block;
                report.read_error = error;
            }
            continue;
        }
        if (got != block_bytes) {
            report.ended_at_block = block;
            break;
        }
        ++report.blocks_read;
        counters->total_kb_written.fetch_add(layout.buffer_kb, std::memory_order_relaxed);
        if (!check_block(file, buffer, layout, block, &report)) break;
    }

    print_thread_done(layout.thread_index, report.blocks_read);
    pages_free(buffer, block_bytes);
    file_close(file);
    return report;
}

bool reader_report_clean(const ReaderLayout& layout, const ReaderReport& report) {
    const uint64_t run_bytes = static_cast<uint64_t>(layout.block_count) * layout.buffer_kb * 1024u;
    return report.result == ReaderResult::completed && report.file_bytes == run_bytes &&
           report.blocks_read == layout.block_count && report.bad_blocks == 0 && report.hole_count == 0;
}

void reader_thread(void* raw_job) {
    const auto* job = static_cast<const WorkerJob*>(raw_job);
    const RunSettings& settings = *job->settings;
    RunCounters* counters = job->counters;

    ReaderLayout layout{job->thread_index, std::string(),
                        test_file_block_count(settings.max_gb, settings.buffer_kb), settings.buffer_kb,
                        settings.buffered, settings.max_gb};
    // The prefix was checked against the limit before any thread started.
    ReaderReport report;
    if (test_file_name(settings.path_prefix, job->thread_index, platform_max_path_bytes, &layout.name))
        report = read_test_file(layout, counters);
    else
        report.result = ReaderResult::open_failed;
    if (!reader_report_clean(layout, report)) {
        std::fprintf(stderr, "%s\n", describe_reader_problems(layout, report).c_str());
        counters->failed_threads.fetch_add(1);
    }
    count_out(counters);
}
