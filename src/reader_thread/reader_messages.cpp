// The stderr lines that say what is wrong with a file read back, in words
// a person can act on, and the note on figures that come from memory.
#include <cstdio>
#include <string>
#include <vector>

#include "output/output.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "reader_thread/reader_thread.h"
#include "test_file/test_file.h"
#include "worker/worker_messages.h"

namespace {

std::string num(uint64_t value) { return std::to_string(value); }
std::string num(int64_t value) { return std::to_string(value); }

// count_words for a signed count, which is never below 0 here.
std::string count_of(int64_t count, const char* one, const char* many) {
    return count_words(static_cast<uint64_t>(count), one, many);
}
std::string count_of(uint64_t count, const char* one, const char* many) { return count_words(count, one, many); }

std::string hex_byte(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// "1 further on" or "3 back": the nearer way round, modulo 256.
std::string distance_words(uint8_t distance) {
    const unsigned steps = distance <= 128 ? distance : 256u - distance;
    return num(uint64_t{steps}) + (distance <= 128 ? " further on" : " back");
}

std::string describe_damage(const BlockDamage& damage, size_t block_bytes) {
    switch (damage.kind) {
        case DamageKind::other_block:
            return "the whole block holds " + hex_byte(damage.found) + ", the pattern of a block " +
                   distance_words(damage.distance) + ", modulo 256: data written to or read from the wrong place";
        case DamageKind::zero_run:
            if (damage.bad_bytes == block_bytes)
                return "the whole block is zeros: a hole, or a range the disk never wrote or has trimmed";
            return count_of(uint64_t{damage.bad_bytes}, "zero byte", "zero bytes") + " from byte " +
                   num(uint64_t{damage.first_offset}) +
                   " of the block: a hole, or a range the disk never wrote or has trimmed";
        case DamageKind::torn:
            return "the block changes from " + hex_byte(damage.before) + " to " + hex_byte(damage.after) +
                   " at byte " + num(uint64_t{damage.change_offset}) + " of it: a torn write, part old and part new";
        case DamageKind::stray_bytes:
            return count_of(uint64_t{damage.bad_bytes}, "stray byte", "stray bytes") + " in it" +
                   (damage.bad_all_zero && damage.bad_bytes > 1 ? ", all zero but less than a whole sector" : "") +
                   ": bit rot, or a fault in memory or on the way";
        case DamageKind::mixed:
            return count_of(uint64_t{damage.bad_bytes}, "byte", "bytes") + " in it differ" +
                   (damage.bad_bytes == 1 ? "s" : "") + ", with no pattern the check knows";
    }
    return std::string();
}

// The max-GB whose run gives a file of file_bytes in blocks of block_kb,
// or 0 when none that the command line takes does.
uint32_t max_gb_of_length(uint64_t file_bytes, uint32_t block_kb) {
    for (uint32_t gb = 1; gb <= largest_max_gb(); ++gb)
        if (static_cast<uint64_t>(test_file_block_count(gb, block_kb)) * block_kb * 1024u == file_bytes) return gb;
    return 0;
}

// What the file's length says, judged in the block size it was written
// with (block_kb), when it is not the run's; empty when it is.
std::string describe_length(const ReaderLayout& layout, uint64_t file_bytes, uint32_t block_kb) {
    const uint64_t block_bytes = uint64_t{block_kb} * 1024u;
    const int64_t block_count =
        block_kb == layout.buffer_kb ? layout.block_count : test_file_block_count(layout.max_gb, block_kb);
    const uint64_t run_bytes = static_cast<uint64_t>(block_count) * block_bytes;
    const uint64_t whole = file_bytes / block_bytes, rest = file_bytes % block_bytes;
    const uint32_t other_gb = max_gb_of_length(file_bytes, block_kb);
    if (file_bytes == run_bytes) return std::string();
    if (file_bytes < run_bytes && other_gb)
        return "shorter than this run's " + count_of(block_count, "block", "blocks") + ": " + num(file_bytes) +
               " bytes where " + num(run_bytes) + " belong, the length of a file of max-GB " + num(uint64_t{other_gb}) +
               " (written with a smaller max-GB? read it with max-GB " + num(uint64_t{other_gb}) + ")";
    if (file_bytes < run_bytes)
        return "cut short: " + count_of(whole, "whole block", "whole blocks") + " of " + num(block_count) +
               (rest ? ", then " + count_of(rest, "byte", "bytes") + " of block " + num(whole) : std::string()) +
               " (" + num(file_bytes) + " of " + num(run_bytes) +
               " bytes); the rest is missing: the writing stopped early (a full disk? a failed run?) or the file "
               "was cut later; write it again";
    return "longer than this run's " + count_of(block_count, "block", "blocks") + ": " + num(file_bytes) +
           " bytes where " + num(run_bytes) + " belong" +
           (rest ? std::string(", not a whole number of ") + num(uint64_t{block_kb}) + " KB blocks" : std::string()) +
           "; the bytes past them were not checked (written with a larger max-GB? " +
           (other_gb ? "read it with max-GB " + num(uint64_t{other_gb})
                     : std::string("give the one it was written with")) +
           ")";
}

// "block 20", "blocks 512 to 513".
std::string span_words(const BlockSpan& span) {
    if (span.first_block == span.last_block) return "block " + num(span.first_block);
    return "blocks " + num(span.first_block) + " to " + num(span.last_block);
}

std::string describe_holes(const ReaderReport& report) {
    std::string where;
    for (size_t i = 0; i < report.holes.size(); ++i) where += (i ? ", " : "") + span_words(report.holes[i]);
    const int64_t unnamed = report.hole_count - static_cast<int64_t>(report.holes.size());
    if (unnamed > 0) where += " and " + count_of(unnamed, "more", "more");
    return count_of(report.hole_count, "hole", "holes") +
           ", where the file system keeps no data and reads return zeros (a file vorlax wrote has none), in " +
           where + ": punched or made sparse after the writing (fallocate --punch-hole, a sparse copy), or data "
           "the file system lost; write the file again";
}

// The next step after bad blocks.
const char* const bad_block_advice =
    "; read again to tell a lasting fault from a passing one: one that stays is on the disk (write the file "
    "again and read it: the same blocks bad again point at the device), one that goes came on the way (memory, "
    "cable, controller)";

}  // namespace

std::string describe_reader_problems(const ReaderLayout& layout, const ReaderReport& report) {
    if (reader_report_clean(layout, report)) return std::string();
    const std::string head = worker_head(layout) + ": ";
    const uint64_t block_bytes = uint64_t{layout.buffer_kb} * 1024u;
    switch (report.result) {
        case ReaderResult::completed:
            break;
        case ReaderResult::open_failed:
            return open_failure_line(layout, WorkerRole::reader, report.error, report.foreign);
        case ReaderResult::size_failed:
            return head + "cannot tell its length: " + platform_error_text(report.error) +
                   "; check the file system it is on, or copy the file to another and read it there";
        case ReaderResult::buffer_failed:
            return buffer_failure_line(layout, WorkerRole::reader, report.error);
    }

    std::vector<std::string> problems;
    if (report.written_kb)
        problems.push_back("written with " + num(uint64_t{report.written_kb}) + " KB blocks, not " +
                           num(uint64_t{layout.buffer_kb}) + " KB (its byte value first changes at byte " +
                           num(uint64_t{report.written_kb} * 1024u) + "); read it with max-buf-KB " +
                           num(uint64_t{report.written_kb}));
    const std::string length =
        describe_length(layout, report.file_bytes, report.written_kb ? report.written_kb : layout.buffer_kb);
    if (!length.empty()) problems.push_back(length);
    if (report.hole_count) problems.push_back(describe_holes(report));
    if (report.refused)
        problems.push_back("unbuffered read refused at block " + num(report.blocks_read + report.unreadable_blocks) +
                           ": " + platform_error_text(report.read_error) + "; " +
                           unbuffered_alignment_advice(layout.buffer_kb, report.alignment_bytes));
    if (report.unreadable_blocks)
        problems.push_back(num(report.unreadable_blocks) + (report.unreadable_blocks == 1
                                                                ? " block unreadable: block "
                                                                : " blocks unreadable, the first block ") +
                           num(report.first_unreadable_block) + " at byte " +
                           num(static_cast<uint64_t>(report.first_unreadable_block) * block_bytes) + ": " +
                           platform_error_text(report.read_error) +
                           "; reading went on past it; read again to tell a lasting fault from a passing one, "
                           "and look in " + platform_device_log + " for the device's errors");
    if (report.ended_at_block >= 0)
        problems.push_back("the file ended at block " + num(report.ended_at_block) +
                           " while it was read: something else cut it; read it again when nothing else uses it");
    if (report.bad_blocks && !report.written_kb) {
        const BlockDamage& damage = report.first_damage;
        const uint64_t start = static_cast<uint64_t>(report.first_bad_block) * block_bytes;
        problems.push_back(count_of(report.bad_blocks, "bad block", "bad blocks") + " of " +
                           num(report.blocks_read) + " read; the first is block " + num(report.first_bad_block) +
                           " at byte " + num(start) + ": found " + hex_byte(damage.found) + " at byte " +
                           num(start + damage.first_offset) + ", expected " + hex_byte(damage.expected) + "; " +
                           describe_damage(damage, block_bytes) + bad_block_advice);
    }
    std::string line = head;
    for (size_t i = 0; i < problems.size(); ++i) line += (i ? "; " : "") + problems[i];
    return line;
}

const char* reader_result_name(const ReaderLayout& layout, const ReaderReport& report) {
    switch (report.result) {
        case ReaderResult::completed: break;
        case ReaderResult::open_failed: return "open_failed";
        case ReaderResult::size_failed: return "size_failed";
        case ReaderResult::buffer_failed: return "buffer_failed";
    }
    if (report.refused || report.unreadable_blocks) return "read_failed";
    if (report.bad_blocks || report.hole_count || report.written_kb) return "bad_blocks";
    // A read stopped early is short by request.
    if (!report.stopped && !reader_report_clean(layout, report)) return "wrong_length";
    return "completed";
}
