// Test files in folders other users share: the rule for whose link may be
// followed and whose file cut, the lines that say why one was not, and the
// running user's own file there, which is cut as anywhere else.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "../support/scratch_dir.h"
#include "platform/platform.h"
#include "reader_thread/reader_thread.h"
#include "writer_thread/writer_thread.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr uint32_t me = 1000, folder_owner = 2000, other = 3000, root = 0;

TEST(SharedFolder, OnlyTheRunningUserOrTheFolderOwnerIsTrustedInASharedStickyFolder) {
    const struct {
        const char* label;
        uint32_t folder_mode, folder_owner_id, entry_owner_id, user_id;
        bool allowed;
    } cases[] = {
        {"another user's, in /tmp", 01777, root, other, me, false},
        {"another user's, run as root", 01777, root, other, root, false},
        {"another user's, sticky, writable by others only", 01002, root, other, me, false},
        {"the running user's own", 01777, root, me, me, true},
        {"root's own, run as root", 01777, root, root, root, true},
        {"the folder owner's", 01777, folder_owner, folder_owner, me, true},
        {"another user's, sticky but shared by group only", 01775, folder_owner, other, me, true},
        {"another user's, writable by all but not sticky", 0777, folder_owner, other, me, true},
        {"another user's, in the user's own folder", 0755, other, other, root, true},
        {"another user's, in a private folder", 0700, me, other, me, true},
        {"another user's, file type bits around the mode", 0041777, root, other, me, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shared_folder_allows(c.folder_mode, c.folder_owner_id, c.entry_owner_id, c.user_id), c.allowed)
            << c.label;
}

TEST(SharedFolder, ARefusedEntryIsNamedWithItsOwnerItsFolderWhyAndWhatToDo) {
    const ForeignEntry link{ForeignKind::link, "nobody", "/tmp/shared"};
    const ForeignEntry file{ForeignKind::file, "200123", "/var/tmp"};
    const std::string link_line =
        "/tmp/shared/x_00.BIN: not followed: a symbolic link of user nobody in /tmp/shared, a sticky folder every "
        "user may write to; another user could aim it at any file; remove it, or write in a folder of your own";
    WriterLayout writer{0, "/tmp/shared/x_00.BIN", 16384, 64, true, 0, {"vorlax: "}};
    WriterReport report{WriterResult::open_failed, 0, 0, 1, 0};
    report.foreign = link;
    EXPECT_EQ(describe_writer_failure(writer, report), "vorlax: " + link_line);
    writer.options.message_head = "vorlax-mpi: rank 3: ";
    EXPECT_EQ(describe_writer_failure(writer, report), "vorlax-mpi: rank 3: " + link_line);

    writer = WriterLayout{2, "/var/tmp/run_02.BIN", 16384, 64, false, 0, {"vorlax: "}};
    report.foreign = file;
    EXPECT_EQ(describe_writer_failure(writer, report),
              "vorlax: /var/tmp/run_02.BIN: not cut: an existing file of user 200123 in /var/tmp, a sticky folder "
              "every user may write to; it may be another user's, put there to be overwritten; remove it, or "
              "write in a folder of your own");

    const ReaderLayout reader{0, "/tmp/shared/x_00.BIN", 16384, 64, true, 0, {"vorlax-read: "}};
    ReaderReport read;
    read.result = ReaderResult::open_failed;
    read.error = 1;
    read.foreign = link;
    EXPECT_EQ(describe_reader_problems(reader, read), "vorlax-read: " + link_line);
}

// The running user's own longer file in a shared sticky folder is cut, not
// overwritten in place with its old tail left behind.
TEST(SharedFolder, TheRunningUsersOwnFileThereIsCutToTheNewLength) {
    ScratchDir scratch;
    const std::string folder = scratch.file("shared");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
    const std::string name = folder + "/x_00.BIN";
    std::ofstream(name) << std::string(3 * 4096 + 100, 'z');
    for (bool buffered : {true, false}) {
        RunCounters counters;
        CaptureStdout();
        WriterReport report = write_test_file(WriterLayout{0, name, 2, 4, buffered, 0, {"vorlax: "}}, &counters);
        GetCapturedStdout();
        if (!buffered && report.result == WriterResult::open_failed) continue;  // no O_DIRECT on this tmpfs
        EXPECT_EQ(report.result, WriterResult::completed) << buffered;
        struct stat st;
        ASSERT_EQ(stat(name.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 2 * 4096) << buffered;
    }
}

}  // namespace
