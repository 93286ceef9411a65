// The Linux platform layer through its own calls: the mount-table reading
// and error classes as tables, then the clock, the alignment probe and the
// page cache against the running kernel (the signal's tests, the same on
// every system, are in platform_signal_test.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "../support/scratch_dir.h"
#include "platform/platform.h"
#include "platform/platform_linux_internal.h"

namespace {

// A text given to a pure function and what it must give back.
struct TextCase {
    const char* given;
    const char* expected;
};

TEST(LinuxMountTable, OctalEscapesBecomeTheBytesTheyStandFor) {
    const TextCase cases[] = {
        {"", ""},
        {"/plain/path", "/plain/path"},
        {"/mnt/my\\040disk", "/mnt/my disk"},
        {"/mnt/\\011tab\\012line", "/mnt/\ttab\nline"},
        {"/back\\134slash", "/back\\slash"},
        {"/end\\040", "/end "},            // an escape that ends the text
        {"\\040\\040", "  "},              // two in a row
        {"/x\\0401", "/x 1"},              // a digit after an escape is text
        {"/x\\134040", "/x\\040"},         // an escaped backslash is not read again
        {"/short\\04", "/short\\04"},      // too short to be an escape
        {"/not\\089", "/not\\089"},        // 8 and 9 are not octal
        {"/lone\\", "/lone\\"},
        {"/a\\b", "/a\\b"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(mountinfo_unescaped(c.given), c.expected) << c.given;
}

TEST(LinuxMountTable, AMountHoldsItsPointAndTheFoldersBelowOnly) {
    const struct {
        const char* mount_point;
        const char* path;
        bool holds;
    } cases[] = {
        {"/", "/", true},
        {"/", "/var/tmp/x", true},
        {"/mnt", "/mnt", true},
        {"/mnt", "/mnt/disk/file", true},
        {"/mnt/my disk", "/mnt/my disk/f", true},
        {"/mnt", "/mntx", false},  // a longer name is another folder
        {"/mnt", "/mn", false},
        {"/mnt/a", "/mnt", false},
        {"/mnt", "/", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mount_point_holds(c.mount_point, c.path), c.holds) << c.mount_point << " over " << c.path;
}

TEST(LinuxMountTable, BtrfsCompressOptionIsFoundUnlessTurnedOff) {
    const TextCase cases[] = {
        {"", ""},
        {"rw,relatime,space_cache=v2", ""},
        {"rw,relatime,compress=zstd:3,space_cache", "compress=zstd:3"},
        {"compress-force=lzo", "compress-force=lzo"},
        {"rw,compress", "compress"},
        {"rw,compress=no", ""},
        {"compress-force=none", ""},
        {"compress=no,compress-force=zstd", "compress-force=zstd"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(btrfs_compress_option(c.given), c.expected) << c.given;
}

TEST(LinuxPlatform, NamesLimitsAndErrorClasses) {
    EXPECT_STREQ(platform_default_prefix, "./");
    EXPECT_EQ(platform_max_path_bytes, static_cast<size_t>(PATH_MAX));
    const struct {
        int error;
        bool unbuffered_refusal;
        bool missing_folder;
    } cases[] = {
        {EINVAL, true, false}, {ENOENT, false, true},  {ENOSPC, false, false}, {EIO, false, false},
        {EACCES, false, false}, {EFBIG, false, false}, {0, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform_is_unbuffered_refusal(c.error), c.unbuffered_refusal) << strerror(c.error);
        EXPECT_EQ(platform_is_missing_folder(c.error), c.missing_folder) << strerror(c.error);
    }
    // A file size limit must fail the write, not end the process.
    platform_init_process();
    struct sigaction action;
    ASSERT_EQ(sigaction(SIGXFSZ, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, SIG_IGN);
}

// The kernel's own errors land in the classes above.
TEST(LinuxPlatform, TheKernelsRefusalsAreClassifiedAsTheyHappen) {
    ScratchDir scratch;
    const std::string missing = scratch.file("missing/x_00.BIN");
    EXPECT_LT(open(missing.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 0);
    EXPECT_TRUE(platform_is_missing_folder(errno)) << strerror(errno);
    // Where the folder refuses O_DIRECT (tmpfs before Linux 6.6, ramfs), the
    // refusal is the one the writer explains.
    const std::string direct = scratch.file("d_00.BIN");
    int fd = open(direct.c_str(), O_WRONLY | O_CREAT | O_DIRECT | O_CLOEXEC, 0600);
    if (fd < 0) EXPECT_TRUE(platform_is_unbuffered_refusal(errno)) << strerror(errno);
    else close(fd);
}

TEST(LinuxPlatform, ErrorTextsAreTheSystemsOnOneLine) {
    for (int error : {ENOENT, EINVAL, ENOSPC, EIO, EACCES}) {
        const std::string text = platform_error_text(error);
        EXPECT_EQ(text, strerror(error));
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    }
    EXPECT_NE(platform_error_text(0x7ffffff0).find("2147483632"), std::string::npos)
        << "an unknown code is named by its number";
}

// ---- The clock: lower bounds only, the machine may be busy ----------------

TEST(LinuxClock, SleepsLastAtLeastWhatTheyAsk) {
    for (uint32_t ms : {0u, 1u, 25u, 1001u}) {
        const uint64_t start_ms = tick_ms();
        sleep_ms(ms);
        const uint64_t end_ms = tick_ms();
        EXPECT_GE(end_ms - start_ms, ms);
    }
}

// Ticks to nanoseconds: exact for whole rates, rounded down for parts,
// without overflow for ticks past 2^32, and before the origin too.
TEST(BlockClock, TicksBecomeNanosecondsOfTheMonotonicClock) {
    const uint64_t one = uint64_t(1) << 32, third = one / 3;  // 1 ns and 1/3 ns a tick
    struct {
        uint64_t ticks, ns_per_tick_q32, ns;
    } spans[] = {{0, one, 0}, {123456789, one, 123456789}, {7, 100 * one, 700},
                 {3, third, 0}, {3000000000u, third, 999999999}, {uint64_t(3) << 40, third, (uint64_t(1) << 40) - 256},
                 {uint64_t(1) << 62, one + one / 2, (uint64_t(3) << 61)}};
    for (const auto& span : spans)
        EXPECT_EQ(block_clock_span_ns(span.ticks, span.ns_per_tick_q32), span.ns) << span.ticks;
    const BlockClockScale scale{1000000, 5000, 2 * one};
    const uint64_t ticks[] = {1000000, 1000010, 999990, 997000, 0}, ns[] = {5000, 5020, 4980, 0, 0};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(block_clock_ns(scale, ticks[i]), ns[i]) << ticks[i];
}

// The counter serves only where it keeps time on every processor.
TEST(BlockClock, TheTimeStampCounterOnlyWhereItKeepsTime) {
    const std::string both = "processor\t: 0\nflags\t\t: fpu tsc constant_tsc nonstop_tsc\nbugs\t\t: none\n";
    const std::string last = "processor\t: 0\nflags\t\t: fpu nonstop_tsc constant_tsc\n";
    EXPECT_TRUE(tsc_keeps_time(both, "tsc\n"));
    EXPECT_TRUE(tsc_keeps_time(last, "tsc"));
    EXPECT_FALSE(tsc_keeps_time(both, "kvm-clock\n"));
    EXPECT_FALSE(tsc_keeps_time(both, "tsc-early\n"));
    EXPECT_FALSE(tsc_keeps_time(both, ""));
    EXPECT_FALSE(tsc_keeps_time("processor\t: 0\nflags\t\t: fpu tsc constant_tsc\n", "tsc\n"));
    EXPECT_FALSE(tsc_keeps_time("processor\t: 0\nflags\t\t: fpu\nbugs\t\t: constant_tsc nonstop_tsc\n", "tsc"));
    EXPECT_FALSE(tsc_keeps_time("", "tsc"));
}

// Whichever clock this machine gives, its ticks read before and after
// tick_ns() fall around it (1 ms for the scale's error; a busy machine
// only widens the gap between the reads).
TEST(BlockClock, ItsTimeAgreesWithTheMonotonicClock) {
    const BlockClockScale scale = block_clock_start();
    for (int i = 0; i < 3; ++i) {
        const uint64_t before = block_clock_ns(scale, block_clock_now());
        const uint64_t ns = tick_ns();
        const uint64_t after = block_clock_ns(scale, block_clock_now());
        EXPECT_LE(before, ns + 1000000);
        EXPECT_GE(after + 1000000, ns);
        sleep_ms(30);
    }
}

TEST(LinuxMemory, PagesAreAlignedWritableAndMemoryIsKnown) {
    int error = 0;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    for (size_t bytes : {size_t{3 * 1024}, page, 5 * page + 1}) {
        auto* pages = static_cast<unsigned char*>(pages_alloc(bytes, &error));
        ASSERT_NE(pages, nullptr) << platform_error_text(error);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % page, 0u);
        memset(pages, 0xA5, bytes);
        EXPECT_EQ(pages[bytes - 1], 0xA5);
        pages_free(pages, bytes);
    }
    EXPECT_GT(available_memory_bytes(), 0u);
}

// The memory cgroup is the v1 hierarchy with the memory controller, where
// there is one, else the v2 one; a path with colons stays whole.
TEST(LinuxMemory, TheMemoryCgroupIsFoundInBothVersions) {
    const TextCase cases[] = {
        {"0::/user.slice/user-0.slice/session-1.scope\n", "/sys/fs/cgroup/user.slice/user-0.slice/session-1.scope"},
        {"4:memory:/job/7\n1:cpu:/\n0::/\n", "/sys/fs/cgroup/memory/job/7"},
        {"0::/\n9:name=systemd:/\n3:cpu,memory,pids:/a:b\n", "/sys/fs/cgroup/memory/a:b"},
        {"5:memoryless:/x\n10::/not-unified\n", ""},
        {"", ""},
    };
    for (const TextCase& c : cases) EXPECT_EQ(memory_cgroup_folder(c.given), c.expected) << c.given;
    EXPECT_GT(memory_for_files_bytes(), 0u);
}

}  // namespace

namespace {

StopReason heard_reason = StopReason::none;
int heard_count = 0;

void hear_stop(StopReason reason) {
    heard_reason = reason;
    ++heard_count;
}

// SIGINT and SIGTERM reach the callback with their reason, once: the first
// gives the signal its default back, so a second one ends the process.
TEST(LinuxStopRequests, FirstSignalIsHeardAndTheNextWouldEndTheProcess) {
    for (const auto& [number, reason] : {std::pair<int, StopReason>{SIGINT, StopReason::interrupt},
                                         std::pair<int, StopReason>{SIGTERM, StopReason::terminate}}) {
        heard_reason = StopReason::none;
        heard_count = 0;
        signal(SIGINT, SIG_DFL);  // whatever the test runner was started with
        signal(SIGTERM, SIG_DFL);
        watch_stop_requests(hear_stop);
        ASSERT_EQ(raise(number), 0);
        EXPECT_EQ(heard_reason, reason) << number;
        EXPECT_EQ(heard_count, 1);
        for (int other : {SIGINT, SIGTERM}) {
            struct sigaction now {};
            sigaction(other, nullptr, &now);
            EXPECT_EQ(now.sa_handler, SIG_DFL) << other;
        }
    }
    // Kept watching (an MPI rank): SIGINT then SIGTERM, both heard, neither ends it.
    heard_count = 0;
    watch_stop_requests(hear_stop, true);
    ASSERT_EQ(raise(SIGINT), 0);
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(heard_count, 2);
    EXPECT_EQ(heard_reason, StopReason::terminate);
    watch_stop_requests(hear_stop);  // back to once, for what follows
    // Started with SIGINT ignored (a background job), it stays ignored.
    signal(SIGINT, SIG_IGN);
    watch_stop_requests(hear_stop);
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

}  // namespace
