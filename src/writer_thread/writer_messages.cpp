// The stderr lines that explain why a writer fell short, with what to try.
#include <cinttypes>

#include "platform/platform.h"
#include "output/output.h"
#include "worker/worker_messages.h"
#include "writer_thread/writer_thread.h"

namespace {

// "1 block", "7 blocks".
std::string blocks_words(int64_t blocks) { return count_words(static_cast<uint64_t>(blocks), "block", "blocks"); }

// What to try after a write or a flush failed for error: room, when the
// reason says there is none, else the device's errors.
std::string device_advice(int error) {
    if (platform_is_out_of_space(error)) return "; free space, or write less: fewer threads or GB";
    return std::string("; look in ") + platform_device_log + " for the device's errors";
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
        case WriterResult::not_started: return thread_not_started_words;
    }
    return nullptr;
}

const char* writer_result_name(WriterResult result) {
    switch (result) {
        case WriterResult::completed: return "completed";
        case WriterResult::open_failed: return "open_failed";
        case WriterResult::buffer_failed: return "buffer_failed";
        case WriterResult::write_failed: return "write_failed";
        case WriterResult::write_short: return "write_short";
        case WriterResult::flush_failed: return "flush_failed";
        case WriterResult::not_started: return "not_started";
    }
    return "completed";
}

std::string describe_writer_failure(const WriterLayout& layout, const WriterReport& report) {
    const std::string head = worker_head(layout);
    const std::string reason = report.error ? platform_error_text(report.error) : std::string();
    switch (report.result) {
        case WriterResult::completed:
            return std::string();
        case WriterResult::open_failed:
            return open_failure_line(layout, WorkerRole::writer, report.error, report.foreign);
        case WriterResult::buffer_failed:
            return buffer_failure_line(layout, WorkerRole::writer, report.error);
        case WriterResult::not_started:
            return thread_start_failure_line(layout, "writer", report.error);
        case WriterResult::write_failed:
            if (!layout.buffered && platform_is_unbuffered_refusal(report.error))
                return head + ": unbuffered write refused after " + blocks_words(report.blocks_written) + ": " +
                       reason + "; " + unbuffered_alignment_advice(layout.buffer_kb, report.alignment_bytes);
            return head + ": write failed after " + blocks_words(report.blocks_written) + ": " + reason +
                   device_advice(report.error);
        case WriterResult::write_short:
            return head + ": write cut short after " + blocks_words(report.blocks_written) +
                   format_text(" (%zu of %u bytes written); %s", report.last_write_bytes, layout.buffer_kb * 1024u,
                               platform_short_write_causes) +
                   "; free space, or write less: fewer threads or GB";
        case WriterResult::flush_failed:
            return head + format_text(": flush after the last block (%" PRId64 ") failed: ", report.blocks_written) +
                   reason + "; the blocks may not have reached the disk" + device_advice(report.error);
    }
    return std::string();
}
