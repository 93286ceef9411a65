// vorlax-read on a real file system: a small ext4 or xfs image on a loop
// device, filled by vorlax until the disk is full, mounted again and read
// back. Skips with the reason where root, loop devices or mkfs are missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "../support/scratch_dir.h"
#include "bounded_run.h"

namespace {

// Runs a shell command line; whether it succeeded, and its first line of
// stdout in *first_line.
bool shell(const std::string& command, std::string* first_line = nullptr) {
    ProcessResult result = run_process({"sh", "-c", command}, "/");
    if (first_line) *first_line = result.out.substr(0, result.out.find('\n'));
    return result.exit_status == 0;
}

void fill_then_read_back(const std::string& kind) {
    if (geteuid() != 0) GTEST_SKIP() << "loop devices need root";
    ScratchDir scratch;
    const std::string image = scratch.file("image"), mount = scratch.file("mnt");
    // xfs wants 300 MB at least.
    std::string device;
    if (!shell("truncate -s 320M " + image + " && losetup --find --show " + image, &device))
        GTEST_SKIP() << "losetup cannot attach a loop device here";
    const bool ready = shell("mkfs." + kind + " -q " + device + " && mkdir " + mount + " && mount " + device + " " +
                             mount);
    const std::string prefix = mount + "/run", file = prefix + "_00.BIN";
    ProcessResult written, read;
    if (ready) {
        written = run_bounded({}, {"B", prefix, "1024", "1", "1"}, scratch.path(), 120);
        // Mounted again: what follows is read from the device.
        shell("umount " + mount + " && mount " + device + " " + mount);
        read = run_bounded({}, {"B", prefix, "1024", "1", "1"}, scratch.path(), 120,
                           companion_command("vorlax-read").back());
    }
    shell("umount " + mount + "; losetup --detach " + device);
    if (!ready) GTEST_SKIP() << "mkfs." << kind << " or mount failed (e2fsprogs, xfsprogs)";

    std::smatch done;
    ASSERT_EQ(written.exit_status, 1) << "the disk should fill: " << written.out << written.err;
    ASSERT_TRUE(std::regex_search(written.out, done, std::regex(R"(thread 0 done! (\d+))"))) << written.out;
    // Short, as the disk was full, and every block vorlax counted holds its pattern.
    EXPECT_EQ(read.exit_status, 1);
    EXPECT_TRUE(has_line(read.out, "thread 0 done! " + done[1].str())) << read.out;
    EXPECT_EQ(read.err.rfind("vorlax-read: " + file + ": cut short: " + done[1].str() + " whole blocks of 1024", 0),
              0u)
        << read.err;
    EXPECT_EQ(lines_of(read.err).size(), 1u) << read.err;
}

TEST(ReadDisk, FullExt4ReadsBackEveryCountedBlock) { fill_then_read_back("ext4"); }
TEST(ReadDisk, FullXfsReadsBackEveryCountedBlock) { fill_then_read_back("xfs"); }

}  // namespace
