// The stderr lines that say what is wrong with a file read back, in words
// a person can act on, and the note on figures that come from memory.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "reader_thread/reader_thread.h"
#include "writer_thread/writer_thread.h"

namespace {

std::string num(uint64_t value) { return std::to_string(value); }
std::string num(int64_t value) { return std::to_string(value); }

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
            return num(uint64_t{damage.bad_bytes}) + " zero bytes from byte " + num(uint64_t{damage.first_offset}) +
                   " of the block: a hole, or a range the disk never wrote or has trimmed";
        case DamageKind::torn:
            return "the block changes from " + hex_byte(damage.before) + " to " + hex_byte(damage.after) +
                   " at byte " + num(uint64_t{damage.change_offset}) + " of it: a torn write, part old and part new";
        case DamageKind::stray_bytes:
            return num(uint64_t{damage.bad_bytes}) + (damage.bad_bytes == 1 ? " stray byte" : " stray bytes") +
                   " in it: bit rot, or a fault in memory or on the way";
        case DamageKind::mixed:
            return num(uint64_t{damage.bad_bytes}) + " bytes in it differ, with no pattern the check knows";
    }
    return std::string();
}

// What the file's length says, when it is not the run's.
std::string describe_length(const ReaderLayout& layout, const ReaderReport& report) {
    const uint64_t block_bytes = uint64_t{layout.buffer_kb} * 1024u;
    const uint64_t run_bytes = static_cast<uint64_t>(layout.block_count) * block_bytes;
    const uint64_t whole = report.file_bytes / block_bytes, rest = report.file_bytes % block_bytes;
    if (report.file_bytes < run_bytes)
        return "cut short: " + num(whole) + " whole blocks of " + num(layout.block_count) +
               (rest ? ", then " + num(rest) + " bytes of block " + num(whole) : std::string()) + " (" +
               num(report.file_bytes) + " of " + num(run_bytes) + " bytes); the rest is missing";
    return "longer than this run's " + num(layout.block_count) + " blocks: " + num(report.file_bytes) +
           " bytes where " + num(run_bytes) + " belong" +
           (rest ? std::string(", not a whole number of ") + num(uint64_t{layout.buffer_kb}) + " KB blocks"
                 : std::string()) +
           "; the bytes past them were not checked (written with a larger max-GB?)";
}

}  // namespace

std::string describe_reader_problems(const ReaderLayout& layout, const ReaderReport& report) {
    if (reader_report_clean(layout, report)) return std::string();
    const std::string head = "vorlax-read: " + (layout.name.empty() ? std::string("test file") : layout.name) + ": ";
    const std::string reason = report.error ? platform_error_text(report.error) : std::string();
    const uint64_t block_bytes = uint64_t{layout.buffer_kb} * 1024u;
    switch (report.result) {
        case ReaderResult::completed:
            break;
        case ReaderResult::open_failed:
            if (layout.name.empty())
                return "vorlax-read: thread " + num(uint64_t{layout.thread_index}) +
                       ": test file name too long for this system; use a shorter path";
            if (report.foreign.kind != ForeignKind::none)
                return describe_foreign_entry("vorlax-read: " + layout.name, report.foreign);
            if (!layout.buffered && platform_is_unbuffered_refusal(report.error))
                return head + "cannot open for unbuffered reading: " + reason +
                       "; this file system does not accept reads that bypass the cache, use mode B";
            return head + "cannot open: " + reason;
        case ReaderResult::size_failed:
            return head + "cannot tell its length: " + reason;
        case ReaderResult::buffer_failed:
            return head + "cannot get a " + num(uint64_t{layout.buffer_kb}) + " KB read buffer: " + reason +
                   "; use a smaller block size or fewer threads";
    }

    std::vector<std::string> problems;
    if (report.written_kb)
        problems.push_back("written with " + num(uint64_t{report.written_kb}) + " KB blocks, not " +
                           num(uint64_t{layout.buffer_kb}) + " KB (its byte value first changes at byte " +
                           num(uint64_t{report.written_kb} * 1024u) + "); read it with max-buf-KB " +
                           num(uint64_t{report.written_kb}));
    if (report.file_bytes != static_cast<uint64_t>(layout.block_count) * block_bytes)
        problems.push_back(describe_length(layout, report));
    if (report.refused)
        problems.push_back("unbuffered read refused at block " + num(report.blocks_read + report.unreadable_blocks) +
                           ": " + platform_error_text(report.read_error) + "; " +
                           unbuffered_alignment_advice(layout.buffer_kb, report.alignment_bytes));
    if (report.unreadable_blocks)
        problems.push_back(num(report.unreadable_blocks) +
                           (report.unreadable_blocks == 1 ? " block unreadable: block " : " blocks unreadable, the first block ") +
                           num(report.first_unreadable_block) + " at byte " +
                           num(static_cast<uint64_t>(report.first_unreadable_block) * block_bytes) + ": " +
                           platform_error_text(report.read_error) + "; reading went on past it");
    if (report.ended_at_block >= 0)
        problems.push_back("the file ended at block " + num(report.ended_at_block) + " while it was read");
    if (report.bad_blocks && !report.written_kb) {
        const BlockDamage& damage = report.first_damage;
        const uint64_t start = static_cast<uint64_t>(report.first_bad_block) * block_bytes;
        problems.push_back(num(report.bad_blocks) + " bad " + (report.bad_blocks == 1 ? "block" : "blocks") +
                           " of " + num(report.blocks_read) + " read; the first is block " +
                           num(report.first_bad_block) + " at byte " + num(start) + ": found " +
                           hex_byte(damage.found) + " at byte " + num(start + damage.first_offset) + ", expected " +
                           hex_byte(damage.expected) + "; " + describe_damage(damage, block_bytes));
    }
    std::string line = head;
    for (size_t i = 0; i < problems.size(); ++i) line += (i ? "; " : "") + problems[i];
    return line;
}

std::string pages_stayed_note(const std::string& stayed_file) {
    if (stayed_file.empty()) return std::string();
    return "vorlax-read: note: the pages of " + stayed_file +
           " stayed in memory after a flush and drop; these figures may be memory speed, not the disk's\n";
}
