// Runs larger than memory on a memory-backed folder, end to end, inside a
// memory cgroup the test makes: were the run not refused, the OOM killer
// would end the test's own program (137), never another process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
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
        {"the tmpfs is smaller than memory", "-t tmpfs -o size=64m tmpfs", "2", 1, "the disk may be full"},
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

}  // namespace
