// The lines writers and readers share, in one style: "<head>: <what
// happened>: <the system's reason>; <what to try>".
#include "worker/worker_messages.h"

#include "output/output.h"
#include "test_file/test_file.h"

namespace {

bool is_writer(WorkerRole role) { return role == WorkerRole::writer; }

// What to try when the folder of a test file does not exist: it may be
// missing, or the path was meant as a folder although it is a prefix.
std::string missing_folder_advice(const std::string& name) {
    return "; the folder " + prefix_folder(name.c_str()) +
           " does not exist: create it, or give a path in a folder that exists (the path is a prefix: " +
           prefix_of(name) + " gives " + name + ")";
}

}  // namespace

std::string worker_head(const WorkerLayout& layout) {
    return layout.options.message_head + (layout.name.empty() ? std::string("test file") : layout.name);
}

std::string open_failure_line(const WorkerLayout& layout, WorkerRole role, int error, const ForeignEntry& foreign) {
    const std::string head = worker_head(layout);
    const std::string reason = error ? platform_error_text(error) : std::string();
    const bool writer = is_writer(role);
    if (layout.name.empty())
        return layout.options.message_head +
               format_text("thread %u: test file name too long for this system; use a shorter path",
                           layout.thread_index);
    if (foreign.kind != ForeignKind::none) return describe_foreign_entry(head, foreign);
    // A writer writes into a FIFO or device as into a file; a reader reads
    // only what a writer left as a file.
    const char* kind = writer ? (platform_is_folder(error) ? "a folder" : nullptr) : platform_not_a_file_kind(error);
    if (kind)
        return head + ": is " + kind + ", not a test file; " +
               (writer ? "remove it or give another path prefix" : "give the path prefix the files were written with");
    const std::string drive = platform_is_missing_file(error) ? platform_missing_drive(layout.name.c_str()) : "";
    if (!drive.empty())
        return head + (writer ? ": cannot create: " : ": cannot open: ") + reason + "; drive " + drive +
               " does not exist: give a path on a drive that exists";
    if (!layout.buffered && error != 0 && platform_is_unbuffered_refusal(error))
        return head + (writer ? ": cannot create for unbuffered writing: " : ": cannot open for unbuffered reading: ") +
               reason + "; this file system does not accept " + (writer ? "writes" : "reads") +
               " that bypass the cache, use mode B";
    if (writer && platform_is_missing_folder(error))
        return head + ": cannot create: " + reason + missing_folder_advice(layout.name);
    const uint32_t found = layout.options.files_found;
    if (!writer && platform_is_missing_file(error) && found > 0 && layout.thread_index >= found)
        return head + ": cannot open: " + reason +
               format_text("; only %u %s of this prefix %s: read %s with max-threads %u", found,
                           found == 1 ? "file" : "files", found == 1 ? "exists" : "exist", found == 1 ? "it" : "them",
                           found);
    if (!writer && platform_is_missing_file(error))
        return head + ": cannot open: " + reason +
               "; vorlax-read takes the arguments that wrote the files: the same path prefix (here " +
               prefix_of(layout.name) + "), block size and max-GB";
    if (writer && platform_is_read_only_volume(error))
        return head + ": cannot create: " + reason +
               "; the file system is mounted read-only: remount it read-write or choose another folder";
    if (writer)
        return head + ": cannot create: " + reason + "; check that this user may write in " +
               prefix_folder(layout.name.c_str());
    return head + ": cannot open: " + reason + "; check that this user may read it";
}

std::string buffer_failure_line(const WorkerLayout& layout, WorkerRole role, int error) {
    return worker_head(layout) +
           format_text(": cannot get a %u KB %s buffer: ", layout.buffer_kb, is_writer(role) ? "write" : "read") +
           platform_error_text(error) + "; use a smaller block size or fewer threads";
}

std::string thread_start_failure_line(const WorkerLayout& layout, const char* role, int error) {
    return worker_head(layout) + format_text(": cannot start %s thread %u: ", role, layout.thread_index) +
           platform_error_text(error) + "; use fewer threads";
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
