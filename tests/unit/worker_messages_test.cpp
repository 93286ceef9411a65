// The lines writers and readers share: each is headed by the job's message
// head and the file, and each says what to try.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "worker/worker_messages.h"

namespace {

WorkerLayout layout_of(const char* head, const std::string& name, bool buffered) {
    WorkerLayout layout{7, name, 16, 64, buffered, 1};
    layout.options.message_head = head;
    return layout;
}

TEST(WorkerMessages, EveryOpenFailureIsHeadedByTheJobAndSaysWhatToTry) {
    ForeignEntry foreign_link{ForeignKind::link, "mallory", "/tmp"};
    const struct {
        const char* what;
        std::string name;
        bool buffered;
        int error;
        ForeignEntry foreign;
        const char* writer_middle;  // after "<head><name>"
        const char* reader_middle;
    } cases[] = {
        {"name too long", "", true, 0, {}, "", ""},
        {"folder in the way", "/d/r_07.BIN", true, EISDIR, {}, ": is a folder, not a test file; remove it",
         ": is a folder, not a test file; give the path prefix"},
        {"no bypass", "/d/r_07.BIN", false, EINVAL, {}, ": cannot create for unbuffered writing: Invalid argument; ",
         ": cannot open for unbuffered reading: Invalid argument; "},
        {"missing", "/d/r_07.BIN", true, ENOENT, {}, ": cannot create: No such file or directory; the folder /d",
         ": cannot open: No such file or directory; vorlax-read takes the arguments"},
        {"permission", "/d/r_07.BIN", true, EACCES, {}, ": cannot create: Permission denied; check that this user "
         "may write in /d", ": cannot open: Permission denied; check that this user may read it"},
        {"read-only", "/d/r_07.BIN", true, EROFS, {}, ": cannot create: Read-only file system; the file system is "
         "mounted read-only: remount it read-write or choose another folder",
         ": cannot open: Read-only file system; check that this user may read it"},
        {"another user's link", "/tmp/r_07.BIN", true, EPERM, foreign_link, ": not followed: a symbolic link",
         ": not followed: a symbolic link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* head : {"vorlax: ", "vorlax-mpi: rank 3 (n1): "}) {
            const WorkerLayout layout = layout_of(head, c.name, c.buffered);
            const std::string writer = open_failure_line(layout, WorkerRole::writer, c.error, c.foreign);
            const std::string reader = open_failure_line(layout, WorkerRole::reader, c.error, c.foreign);
            for (const std::string& line : {writer, reader}) {
                EXPECT_EQ(line.rfind(head + c.name, 0), 0u) << line;
                EXPECT_NE(line.find("; "), std::string::npos) << "no advice: " << line;
            }
            if (c.name.empty()) {
                EXPECT_EQ(writer, std::string(head) + "thread 7: test file name too long for this system; use a "
                                                      "shorter path");
                EXPECT_EQ(reader, writer);
                continue;
            }
            EXPECT_EQ(writer.find(head + c.name + c.writer_middle), 0u) << writer;
            EXPECT_EQ(reader.find(head + c.name + c.reader_middle), 0u) << reader;
        }
    }
}

// A reader's missing file past those that exist from _00 on names the
// thread count they show; otherwise (none found, or not counted) the
// arguments that wrote them.
TEST(WorkerMessages, AMissingFileBeyondThoseFoundNamesTheirCount) {
    const std::string generic = "; vorlax-read takes the arguments that wrote the files: the same path prefix";
    const struct {
        uint32_t found;
        const char* advice;
    } cases[] = {
        {0, generic.c_str()},
        {1, "; only 1 file of this prefix exists: read it with max-threads 1"},
        {3, "; only 3 files of this prefix exist: read them with max-threads 3"},
        {8, generic.c_str()},  // thread 7 is among them: its file went missing since
    };
    for (const auto& c : cases) {
        WorkerLayout layout = layout_of("vorlax-read: ", "nb/o_07.BIN", true);
        layout.options.files_found = c.found;
        const std::string line = open_failure_line(layout, WorkerRole::reader, ENOENT, {});
        EXPECT_EQ(line.find(std::string("vorlax-read: nb/o_07.BIN: cannot open: No such file or directory") +
                            c.advice), 0u) << line;
    }
}

TEST(WorkerMessages, BufferAndThreadFailuresNameTheSizeOrThreadAndTheFix) {
    const WorkerLayout layout = layout_of("vorlax-read: ", "/d/r_07.BIN", true);
    EXPECT_EQ(buffer_failure_line(layout, WorkerRole::reader, ENOMEM),
              "vorlax-read: /d/r_07.BIN: cannot get a 64 KB read buffer: Cannot allocate memory; use a smaller "
              "block size or fewer threads");
    EXPECT_EQ(buffer_failure_line(layout, WorkerRole::writer, ENOMEM),
              "vorlax-read: /d/r_07.BIN: cannot get a 64 KB write buffer: Cannot allocate memory; use a smaller "
              "block size or fewer threads");
    EXPECT_EQ(thread_start_failure_line(layout, "reader", EAGAIN),
              "vorlax-read: /d/r_07.BIN: cannot start reader thread 7: Resource temporarily unavailable; use "
              "fewer threads");
    EXPECT_EQ(thread_start_failure_line(layout_of("vorlax: ", "", true), "writer", EAGAIN),
              "vorlax: test file: cannot start writer thread 7: Resource temporarily unavailable; use fewer "
              "threads");
}

}  // namespace
