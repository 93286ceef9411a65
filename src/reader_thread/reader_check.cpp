// The check of each block read back against its pattern, and what a bad
// first block says about the block size the file was written with.
#include <algorithm>

#include "block_check/block_check.h"
#include "reader_thread/reader_thread.h"
#include "settings/settings.h"
#include "test_file/test_file.h"

namespace {

// Reads the file from its start, in whole blocks of buffer, to the first
// byte that is not 0 (within the largest block size and one block), then
// the byte at twice that offset; gives the block size the file was written
// with, or 0 when these do not look like another block size.
uint32_t find_written_block_kb(FileHandle file, unsigned char* buffer, const ReaderLayout& layout,
                               uint64_t file_bytes) {
    const size_t block_bytes = static_cast<size_t>(layout.buffer_kb) * 1024u;
    const uint64_t scan_end = std::min<uint64_t>(file_bytes, (uint64_t{largest_buffer_kb()} << 10) + block_bytes);
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

}  // namespace

bool check_read_block(FileHandle file, unsigned char* buffer, const ReaderLayout& layout, int64_t block,
                      ReaderReport* report) {
    const size_t block_bytes = static_cast<size_t>(layout.buffer_kb) * 1024u;
    const uint8_t expected = test_file_fill_byte(block);
    if (first_mismatch(buffer, block_bytes, expected) == block_bytes) return true;
    if (report->bad_blocks++ > 0) return true;
    report->first_bad_block = block;
    report->first_damage = classify_damage(buffer, block_bytes, expected);
    // Blocks 0 and 1 whole would prove the run's block size; a bad one of
    // them may mean the file was written with another.
    if (block <= 1) report->written_kb = find_written_block_kb(file, buffer, layout, report->file_bytes);
    return report->written_kb == 0;
}
