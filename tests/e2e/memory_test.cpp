// Runs larger than memory on a memory-backed folder, end to end, inside a
// memory cgroup the test makes: were the run not refused, the OOM killer
// would end the test's own program (137), never another process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "../support/scratch_dir.h"
#include "bounded_run.h"
#include "memory_cgroup.h"

namespace {

namespace fs = std::filesystem;

// In a cgroup of 1.5 GB: 2 GB on tmpfs or ramfs is refused before the
// first byte with what fits; 1 GB fits; a tmpfs whose own size is the
// smaller limit ends on a full disk, as today.
TEST(MemoryBacked, ARunLargerThanMemoryIsRefusedBeforeTheFirstByte) {
#ifdef VORLAX_SANITIZED
    GTEST_SKIP() << "memory figures mean nothing under a sanitizer";
#endif
    MemoryCgroup cgroup("1536M");
    if (cgroup.path().empty()) GTEST_SKIP() << cgroup.why();
    const std::string mnt = cgroup.mount_folder();
    const struct {
        const char* what;
        const char* mount;  // mounted over mnt in a private mount namespace
        const char* threads;
        int exit_status;
        const char* said;
    } cases[] = {
        // A tmpfs's own size is half the machine's memory, more than the cgroup's.
        {"too large for memory on tmpfs", "-t tmpfs tmpfs", "2", 2, "at most 1 thread of 1 GB, or a folder on a disk"},
        {"too large for memory on ramfs", "-t ramfs ramfs", "2", 2, "at most 1 thread of 1 GB"},
        {"fits in memory", "-t ramfs ramfs", "1", 0, ""},
        // A full disk, whether a thread's last write came back short or failed outright.
        {"the tmpfs is smaller than memory", "-t tmpfs -o size=64m tmpfs", "2", 1, "free space, or write less"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ProcessResult result =
            run_bounded(cgroup.confined(c.mount), {"B", mnt + "/m", "1024", c.threads, "1"}, "/");
        EXPECT_EQ(result.exit_status, c.exit_status) << "signal " << result.signal << "\n" << result.err;
        EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
        if (c.exit_status == 2) {
            EXPECT_NE(result.err.find(mnt + " is memory-backed: this run would put 2048 MB there (2 files)"),
                      std::string::npos)
                << result.err;
            EXPECT_EQ(result.out, "");
        }
    }
}

// The page-cache note of mode B measures memory as the refusal above does:
// 1 GB does not fit a 512 MB cgroup, and in a 4 GB one the figure is at
// most the cgroup's. The folder is on a disk (bound over the mount folder),
// and the test file's name is a folder, so the run ends after the notes.
TEST(MemoryBacked, PageCacheNoteHeedsTheMemoryCgroup) {
#ifdef VORLAX_SANITIZED
    GTEST_SKIP() << "memory figures mean nothing under a sanitizer";
#endif
    char disk_template[] = "/var/tmp/vorlax-cppfix-XXXXXX";
    if (!mkdtemp(disk_template)) GTEST_SKIP() << "no folder on a disk in /var/tmp";
    const std::string disk = disk_template;
    fs::create_directory(disk + "/f_00.BIN");
    const std::regex note(R"(the test files \(1024 MB in all\) fit in the memory available \((\d+) MB\))");
    const struct {
        const char* limit;
        bool noted;
    } cases[] = {{"512M", false}, {"4G", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        MemoryCgroup cgroup(c.limit);
        if (cgroup.path().empty()) {
            fs::remove_all(disk);
            GTEST_SKIP() << cgroup.why();
        }
        const std::string mnt = cgroup.mount_folder();
        const ProcessResult result =
            run_process(bounded_command(cgroup.confined("--bind " + disk), {"B", mnt + "/f", "64", "1", "1"}), "/");
        EXPECT_EQ(result.exit_status, 1) << result.err;
        std::smatch figure;
        const bool noted = std::regex_search(result.err, figure, note);
        EXPECT_EQ(noted, c.noted) << result.err;
        if (noted) EXPECT_LE(std::stoll(figure[1]), 4096) << result.err;
    }
    fs::remove_all(disk);
}

}  // namespace
