// Test files in a folder other users share (sticky, writable by all, such
// as /tmp): as root, the program follows no other user's link there and
// cuts no other user's file, whatever the kernel's own guards are set to;
// elsewhere, and for the running user's own links, it goes on as ever.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>

#include "../support/scratch_dir.h"
#include "bounded_run.h"

namespace {

// Another user, one the system does not list (see as_own_user).
uid_t other_user() { return static_cast<uid_t>(200000 + getpid()); }

// True when the kernel itself refuses another user's links and files in
// shared sticky folders; then it may answer before the program does.
bool kernel_guards_on() {
    for (const char* knob : {"/proc/sys/fs/protected_symlinks", "/proc/sys/fs/protected_regular"}) {
        std::ifstream in(knob);
        int value = 1;
        if (in >> value && value != 0) return true;
    }
    return false;
}

std::string real_path(const std::string& path) {
    char full[PATH_MAX];
    return realpath(path.c_str(), full) ? full : path;
}

// Checks a refused run: exit 1, no completion line, and one line on stderr
// for the file, which (where the kernel leaves it to the program) names the
// entry's owner and folder and says what happened.
void expect_refused(const ProcessResult& result, const std::string& head, const std::string& name,
                    const std::string& folder, const std::string& what) {
    EXPECT_EQ(result.exit_status, 1) << result.err;
    EXPECT_EQ(result.out.find("done!"), std::string::npos) << result.out;
    ASSERT_EQ(lines_of(result.err).size(), 1u) << result.err;
    EXPECT_EQ(result.err.rfind(head + name + ": ", 0), 0u) << result.err;
    if (kernel_guards_on()) return;
    const std::string line_start = head + name + ": " + what + " of user " + std::to_string(other_user()) + " in " +
                                   real_path(folder) + ", a sticky folder every user may write to; ";
    EXPECT_EQ(result.err.rfind(line_start, 0), 0u) << result.err;
}

enum class Entry { link_to_victim, link_to_null, file };

TEST(SharedFolder, AnotherUsersLinkOrFileInASharedStickyFolderIsLeftAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give links and files to another user";
    const uid_t other = other_user();
    const struct {
        const char* label;
        mode_t folder_mode;
        bool folder_is_others;
        Entry entry;
        bool entry_is_others;
        const char* refusal;  // what the line says, or nullptr when the run goes ahead
    } cases[] = {
        {"another user's link, shared sticky folder", 01777, false, Entry::link_to_victim, true,
         "not followed: a symbolic link"},
        {"the same link in that user's own folder", 0755, true, Entry::link_to_victim, true, nullptr},
        {"the folder owner's link, shared sticky folder", 01777, true, Entry::link_to_null, true, nullptr},
        {"root's own link to /dev/null, shared sticky folder", 01777, false, Entry::link_to_null, false, nullptr},
        {"another user's file, shared sticky folder", 01777, false, Entry::file, true, "not cut: an existing file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchDir scratch;
        const std::string victim = scratch.file("victim"), folder = scratch.file("shared");
        const std::string name = folder + "/x_00.BIN";
        std::ofstream(victim) << "root's own bytes\n";
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(chmod(folder.c_str(), c.folder_mode), 0);
        if (c.folder_is_others) {
            ASSERT_EQ(chown(folder.c_str(), other, other), 0);
        }
        const std::string planted = c.entry == Entry::file ? name : victim;
        if (c.entry == Entry::file)
            std::ofstream(name) << "another user's bytes\n";
        else
            ASSERT_EQ(symlink(c.entry == Entry::link_to_null ? "/dev/null" : victim.c_str(), name.c_str()), 0);
        if (c.entry_is_others) {
            ASSERT_EQ(lchown(name.c_str(), other, other), 0);
        }
        const std::string before = read_whole_file(planted);

        ProcessResult result = run_bounded({}, {"B", folder + "/x", "64", "1", "1"}, scratch.path());
        if (c.refusal) {
            expect_refused(result, "vorlax: ", name, folder, c.refusal);
            EXPECT_EQ(read_whole_file(planted), before);
            continue;
        }
        EXPECT_EQ(result.exit_status, 0) << result.err;
        EXPECT_TRUE(has_line(result.out, "thread 0 done! 16384")) << result.out << result.err;
        struct stat st;
        ASSERT_EQ(stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, c.entry == Entry::link_to_victim ? off_t{1} << 30 : off_t(before.size()));
    }
}

// vorlax-read in mode B writes out and drops the cached pages of what it
// reads: it too leaves another user's link alone.
TEST(SharedFolder, ReadingBackDoesNotFollowAnotherUsersLink) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a link to another user";
    ScratchDir scratch;
    const std::string victim = scratch.file("victim"), folder = scratch.file("shared");
    const std::string name = folder + "/x_00.BIN";
    std::ofstream(victim) << "root's own bytes\n";
    ASSERT_EQ(mkdir(folder.c_str(), 01777), 0);
    ASSERT_EQ(chmod(folder.c_str(), 01777), 0);
    ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0);
    ASSERT_EQ(lchown(name.c_str(), other_user(), other_user()), 0);

    std::vector<std::string> command = {"timeout", "-k", "5", "60"};
    for (const std::string& word : companion_command("vorlax-read")) command.push_back(word);
    command.insert(command.end(), {"B", folder + "/x", "64", "1", "1"});
    ProcessResult result = run_process(command, scratch.path());
    result.err = without_notes(result.err);
    expect_refused(result, "vorlax-read: ", name, folder, "not followed: a symbolic link");
    EXPECT_EQ(read_whole_file(victim), "root's own bytes\n");
}

}  // namespace
