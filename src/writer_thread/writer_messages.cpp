// The stderr lines that explain why a writer fell short, with what to try.
#include <cinttypes>
#include <cstdio>

#include "platform/platform.h"
#include "output/output.h"
#include "test_file/test_file.h"
#include "writer_thread/writer_thread.h"

namespace {

// "1 block", "7 blocks".
std::string blocks_words(int64_t blocks) {
    return format_text("%" PRId64 " %s", blocks, blocks == 1 ? "block" : "blocks");
}

bool refused_for_bypass(const WriterLayout& layout, const WriterReport& report) {
    return !layout.buffered && report.error != 0 && platform_is_unbuffered_refusal(report.error);
}

// What to try when the folder of a test file does not exist: it may be
// missing, or the path was meant as a folder although it is a prefix.
std::string missing_folder_advice(const std::string& name) {
    const std::string prefix = name.substr(0, name.size() - (name.size() > 7 ? 7 : 0));
    return "; the folder " + prefix_folder(name.c_str()) +
           " does not exist: create it, or give a path in a folder that exists (the path is a prefix: " + prefix +
           " gives " + name + ")";
}

}  // namespace

const char* writer_failure_words(WriterResult result) {
    switch (result) {
        case WriterResult::completed: return nullptr;
        case WriterResult::open_failed: return "cannot create its test file";
        case WriterResult::buffer_failed: return "cannot get its write buffer";
        case WriterResult::write_failed: return "a write failed";
        case WriterResult::write_short: return "a write came back short";
        case WriterResult::flush_failed: return "the flush after the last block failed";
    }
    return nullptr;
}

std::string unbuffered_alignment_advice(uint32_t buffer_kb, uint32_t alignment_bytes) {
    if (alignment_bytes == 0)
        return format_text("the block size (%u KB) must be a whole multiple of the device's sector size; "
                           "use such a block size, or mode B",
                           buffer_kb);
    return format_text("the block size (%u KB) must be a whole multiple of the device's sector size "
                       "(%u bytes here); use such a block size, or mode B",
                       buffer_kb, alignment_bytes);
}

std::string describe_foreign_entry(const std::string& head, const ForeignEntry& foreign) {
    const std::string where = " of user " + foreign.owner + " in " + foreign.folder +
                              ", a sticky folder every user may write to; ";
    const std::string what_to_do = "; remove it, or write in a folder of your own";
    if (foreign.kind == ForeignKind::link)
        return head + ": not followed: a symbolic link" + where + "another user could aim it at any file" +
               what_to_do;
    return head + ": not cut: an existing file" + where + "it may be another user's, put there to be overwritten" +
           what_to_do;
}

std::string describe_writer_failure(const WriterLayout& layout, const WriterReport& report) {
    const std::string head = layout.message_head + (layout.name.empty() ? std::string("test file") : layout.name);
    const std::string reason = report.error ? platform_error_text(report.error) : std::string();
    switch (report.result) {
        case WriterResult::completed:
            return std::string();
        case WriterResult::open_failed:
            if (layout.name.empty())
                return layout.message_head +
                       format_text("thread %u: test file name too long for this system; use a shorter path",
                              layout.thread_index);
            if (report.foreign.kind != ForeignKind::none) return describe_foreign_entry(head, report.foreign);
            if (platform_is_folder(report.error))
                return head + ": is a folder, not a test file; remove it or give another path prefix";
            if (refused_for_bypass(layout, report))
                return head + ": cannot create for unbuffered writing: " + reason +
                       "; this file system does not accept writes that bypass the cache, use mode B";
            if (platform_is_missing_folder(report.error))
                return head + ": cannot create: " + reason + missing_folder_advice(layout.name);
            return head + ": cannot create: " + reason;
        case WriterResult::buffer_failed:
            return head + format_text(": cannot get a %u KB write buffer: ", layout.buffer_kb) + reason +
                   "; use a smaller block size or fewer threads";
        case WriterResult::write_failed:
            if (refused_for_bypass(layout, report))
                return head + ": unbuffered write refused after " + blocks_words(report.blocks_written) + ": " +
                       reason + "; " + unbuffered_alignment_advice(layout.buffer_kb, report.alignment_bytes);
            return head + ": write failed after " + blocks_words(report.blocks_written) + ": " + reason;
        case WriterResult::write_short:
            return head + ": write cut short after " + blocks_words(report.blocks_written) +
                   format_text(" (%zu of %u bytes written); the disk may be full or a file size limit reached",
                               report.last_write_bytes, layout.buffer_kb * 1024u);
        case WriterResult::flush_failed:
            return head + format_text(": flush after the last block (%" PRId64 ") failed: ", report.blocks_written) +
                   reason;
    }
    return std::string();
}
