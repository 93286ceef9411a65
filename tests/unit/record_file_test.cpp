// Where a run record goes, on real files: what a name is (entry_facts),
// when two names are one file, and the record written into a device or a
// FIFO as it is, or through a link onto its target.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "../support/scratch_dir.h"
#include "platform/platform_linux_internal.h"
#include "record/record.h"

namespace {

std::string text_of(const std::string& name) {
    std::ifstream in(name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool is_link(const std::string& name) {
    struct stat st;
    return lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST(RecordPath, KindsTargetsAndOneFile) {
    ScratchDir scratch;
    const std::string dir = scratch.path();
    std::ofstream(scratch.file("file"));
    ASSERT_EQ(mkdir(scratch.file("folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(scratch.file("fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("file", scratch.file("link").c_str()), 0);
    ASSERT_EQ(symlink("link", scratch.file("chain").c_str()), 0);
    ASSERT_EQ(symlink("folder/new", scratch.file("dangling").c_str()), 0);
    ASSERT_EQ(link(scratch.file("file").c_str(), scratch.file("hard").c_str()), 0);
    const struct {
        std::string name;
        EntryKind kind;
        std::string target;
    } entries[] = {
        {scratch.file("missing"), EntryKind::missing, scratch.file("missing")},
        {scratch.file("file"), EntryKind::file, scratch.file("file")},
        {scratch.file("folder"), EntryKind::folder, scratch.file("folder")},
        {scratch.file("fifo"), EntryKind::stream, scratch.file("fifo")},
        {"/dev/null", EntryKind::stream, "/dev/null"},  // looked at only
        {scratch.file("link"), EntryKind::file, scratch.file("file")},
        {scratch.file("chain"), EntryKind::file, scratch.file("file")},
        {scratch.file("dangling"), EntryKind::missing, scratch.file("folder/new")},
    };
    for (const auto& e : entries) {
        const EntryFacts facts = entry_facts(e.name.c_str());
        EXPECT_EQ(facts.kind, e.kind) << e.name;
        EXPECT_EQ(facts.target, e.target) << e.name;
        EXPECT_EQ(facts.foreign.kind, ForeignKind::none) << e.name;
    }
    const struct {
        std::string a, b;
        bool one;
    } pairs[] = {
        {scratch.file("file"), dir + "/./folder/../file", true},
        {scratch.file("link"), scratch.file("file"), true},
        {scratch.file("hard"), scratch.file("file"), true},
        {scratch.file("dangling"), scratch.file("folder/new"), true},  // neither exists yet
        {scratch.file("missing"), dir + "/folder/../missing", true},
        {scratch.file("missing"), scratch.file("file"), false},
        {scratch.file("fifo"), scratch.file("file"), false},
        {scratch.file("gone/x"), scratch.file("gone/x"), false},  // no folder: nothing to compare
    };
    for (const auto& p : pairs) EXPECT_EQ(names_one_file(p.a.c_str(), p.b.c_str()), p.one) << p.a << " " << p.b;
}

TEST(RecordPath, ReplacedOnlyWhereTheStickyRuleAllows) {
    const struct {
        uint32_t folder_mode, folder_owner, entry_owner, user;
        bool allowed;
    } cases[] = {
        {0755, 0, 65534, 1000, true},     // no sticky bit: the folder's write permission decides
        {01777, 0, 1000, 1000, true},     // the user's own file
        {01777, 1000, 0, 1000, true},     // the user's own folder
        {01777, 0, 65534, 0, true},       // root
        {01777, 0, 0, 65534, false},      // root's file in /dev/shm, as nobody
        {01770, 0, 1001, 1000, false},    // sticky, shared by a group
    };
    for (const auto& c : cases)
        EXPECT_EQ(sticky_folder_lets_replace(c.folder_mode, c.folder_owner, c.entry_owner, c.user), c.allowed)
            << std::oct << c.folder_mode << std::dec << " " << c.entry_owner << " as " << c.user;
}

TEST(RecordPath, RefusalsNameTheCauseAndWhatToTry) {
    EntryFacts foreign_link, foreign_file, folder, disk, fifo, file;
    foreign_link.foreign = ForeignEntry{ForeignKind::link, "nobody", "/tmp"};
    foreign_file.kind = EntryKind::file;
    foreign_file.foreign = ForeignEntry{ForeignKind::file, "root", "/dev/shm"};
    folder.kind = EntryKind::folder;
    disk.kind = EntryKind::block_device;
    fifo.kind = EntryKind::stream;
    file.kind = EntryKind::file;
    const struct {
        EntryFacts facts;
        std::string line;
    } cases[] = {
        {foreign_link, "r: cannot write the run record: it is a symbolic link of user nobody in /tmp, a sticky "
                       "folder, where another user could aim it at any file; choose another name"},
        {foreign_file, "r: cannot write the run record: the file belongs to another user (root) in /dev/shm, a "
                       "sticky folder, where only its owner may replace it; choose another name"},
        {folder, "r: cannot write the run record: it is a folder; name a file, not a folder"},
        {disk, "r: cannot write the run record: it is a block device, which the record would overwrite from its "
               "first byte; name a file"},
        {fifo, ""},
        {file, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(record_refusal("r", c.facts), c.line);
}

TEST(RecordPath, DevicesAndFifosWrittenAsTheyAreLinksOntoTheirTargets) {
    ScratchDir scratch;
    std::string failure;
    // A device of our own, the kernel's null device (1,3): root only.
    const std::string null_device = scratch.file("null");
    if (mknod(null_device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        ASSERT_TRUE(probe_record_file(null_device, &failure)) << failure;
        EXPECT_TRUE(write_record_file(null_device, "{}\n", &failure)) << failure;
        struct stat st;
        ASSERT_EQ(stat(null_device.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
    // A FIFO: no reader fails at once, with the advice; a reader gets the record.
    const std::string fifo = scratch.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_TRUE(probe_record_file(fifo, &failure)) << failure;
    EXPECT_FALSE(write_record_file(fifo, "{}\n", &failure));
    EXPECT_NE(failure.find("; start its reader first"), std::string::npos) << failure;
    std::string read;
    std::thread reader([&] { read = text_of(fifo); });
    while (true) {  // the reader's open holds until a writer comes
        failure.clear();
        if (write_record_file(fifo, "{\"a\": 1}\n", &failure)) break;
        ASSERT_NE(failure.find("start its reader first"), std::string::npos) << failure;
        usleep(1000);
    }
    reader.join();
    EXPECT_EQ(read, "{\"a\": 1}\n");
    // A link: its target replaced, the link kept, no part left beside either.
    std::ofstream(scratch.file("target.json")) << "old";
    ASSERT_EQ(symlink("target.json", scratch.file("r.json").c_str()), 0);
    ASSERT_TRUE(probe_record_file(scratch.file("r.json"), &failure)) << failure;
    ASSERT_TRUE(write_record_file(scratch.file("r.json"), "{}\n", &failure)) << failure;
    EXPECT_TRUE(is_link(scratch.file("r.json")));
    EXPECT_EQ(text_of(scratch.file("target.json")), "{}\n");
    EXPECT_NE(access(scratch.file("target.json.part").c_str(), F_OK), 0);
    EXPECT_NE(access(scratch.file("r.json.part").c_str(), F_OK), 0);
}

}  // namespace
