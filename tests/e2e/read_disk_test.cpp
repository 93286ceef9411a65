// vorlax-read on a real file system: a small ext4 or xfs image on a loop
// device, filled by vorlax until the disk is full, mounted again and read
// back. Needs root and loop devices; skips with the reason where either is
// missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "../support/scratch_dir.h"
#include "bounded_run.h"

namespace {

// Runs a system command quietly; its stdout, or "" with *ok false on failure.
std::string shell(const std::vector<std::string>& argv, bool* ok) {
    ProcessResult result = run_process(argv, "/");
    *ok = *ok && result.exit_status == 0;
    return result.out.substr(0, result.out.find('\n'));
}

// A file system of kind in an image file, on a loop device, mounted on
// mount_point() until the end of the object.
class LoopFileSystem {
public:
    LoopFileSystem(const ScratchDir& scratch, const std::string& kind) : mount_(scratch.file("mnt")) {
        if (geteuid() != 0) {
            why_ = "loop devices need root";
            return;
        }
        const std::string image = scratch.file("image");
        std::filesystem::create_directory(mount_);
        bool ok = true;
        shell({"truncate", "-s", "320M", image}, &ok);  // xfs wants 300 MB at least
        device_ = shell({"losetup", "--find", "--show", image}, &ok);
        if (!ok || device_.empty()) {
            why_ = "losetup cannot attach a loop device here";
            device_.clear();
            return;
        }
        shell({"mkfs." + kind, "-q", device_}, &ok);
        if (!ok) why_ = "mkfs." + kind + " failed or is missing (e2fsprogs, xfsprogs)";
        if (ok && !remount()) why_ = "cannot mount " + kind + " from " + device_;
    }
    ~LoopFileSystem() {
        bool ok = true;
        if (mounted_) shell({"umount", mount_}, &ok);
        if (!device_.empty()) shell({"losetup", "--detach", device_}, &ok);
    }
    // Unmounts (when mounted) and mounts again, so what follows is read from the device.
    bool remount() {
        bool ok = true;
        if (mounted_) shell({"umount", mount_}, &ok);
        shell({"mount", device_, mount_}, &ok);
        mounted_ = ok;
        return ok;
    }
    const std::string& why_not() const { return why_; }
    const std::string& mount_point() const { return mount_; }

private:
    std::string mount_, device_, why_;
    bool mounted_ = false;
};

void fill_then_read_back(const std::string& kind) {
    ScratchDir scratch;
    LoopFileSystem disk(scratch, kind);
    if (!disk.why_not().empty()) GTEST_SKIP() << disk.why_not();
    const std::string prefix = disk.mount_point() + "/run", file = prefix + "_00.BIN";

    ProcessResult written = run_bounded({}, {"B", prefix, "1024", "1", "1"}, scratch.path(), 120);
    ASSERT_EQ(written.exit_status, 1) << "the disk should fill: " << written.out << written.err;
    std::smatch done;
    ASSERT_TRUE(std::regex_search(written.out, done, std::regex(R"(thread 0 done! (\d+))"))) << written.out;
    ASSERT_TRUE(disk.remount());

    ProcessResult read = run_bounded({}, {"B", prefix, "1024", "1", "1"}, scratch.path(), 120,
                                     companion_command("vorlax-read").back());
    // Short, as the disk was full, and every block vorlax counted holds its pattern.
    EXPECT_EQ(read.exit_status, 1);
    EXPECT_TRUE(has_line(read.out, "thread 0 done! " + done[1].str())) << read.out;
    EXPECT_EQ(read.err.rfind("vorlax-read: " + file + ": cut short: " + done[1].str() + " whole blocks of 1024", 0),
              0u)
        << read.err;
    EXPECT_EQ(read.err.find("bad block"), std::string::npos) << read.err;
    EXPECT_EQ(lines_of(read.err).size(), 1u) << read.err;
}

TEST(ReadDisk, FullExt4ReadsBackEveryCountedBlock) { fill_then_read_back("ext4"); }
TEST(ReadDisk, FullXfsReadsBackEveryCountedBlock) { fill_then_read_back("xfs"); }

}  // namespace
