// The Linux platform layer where a test file is not a plain file on a
// disk: a write cut short by a signal, and the cache probes and the
// reader's open meeting a FIFO, device, folder or link in a file's place.
// The test holds every FIFO, so nothing here waits on time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/scratch_dir.h"
#include "platform/platform.h"

namespace {

std::atomic<int> signals_caught{0};
void count_signal(int) { signals_caught.fetch_add(1); }

// Whether thread tid of this process sits in the write system call.
bool blocked_in_write(long tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return in >> number && number == SYS_write;
}

// A handler without SA_RESTART, as MPI libraries install them: a blocked
// write comes back with EINTR, or with the part it wrote. The writer must
// carry on either way, and the reader get every byte in order.
TEST(LinuxInterrupt, AWriteCutShortBySignalGoesOnWithTheRest) {
    struct sigaction handler {}, before {};
    handler.sa_handler = count_signal;
    sigemptyset(&handler.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &handler, &before), 0);
    ScratchDir scratch;
    for (bool prefill : {true, false}) {  // blocked before its first byte, or after a part
        SCOPED_TRACE(prefill ? "EINTR before any byte" : "a part, then the rest");
        const std::string fifo = scratch.file(prefill ? "e_00.BIN" : "p_00.BIN");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const int read_fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        const int write_fd = open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(read_fd, 0);
        ASSERT_GE(write_fd, 0);
        size_t held = 0;  // what the test put in the pipe first
        if (prefill) {
            fcntl(write_fd, F_SETFL, O_NONBLOCK);
            for (char byte = 'x'; write(write_fd, &byte, 1) == 1;) ++held;
            fcntl(write_fd, F_SETFL, 0);
        }
        std::vector<unsigned char> block(1 << 20);  // well over a pipe's capacity
        for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i % 251);
        std::atomic<long> tid{0};
        std::atomic<bool> returned{false};
        size_t written = 0;
        int error = -1;
        bool wrote = false;
        std::thread writer([&] {
            tid.store(syscall(SYS_gettid));
            wrote = file_write(write_fd, block.data(), block.size(), &written, &error);
            returned.store(true);
        });
        signals_caught.store(0);
        while (tid.load() == 0 || !blocked_in_write(tid.load())) sleep_ms(1);
        pthread_kill(writer.native_handle(), SIGUSR1);
        while (signals_caught.load() == 0) sleep_ms(1);
        std::vector<unsigned char> got;
        unsigned char chunk[65536];
        // Drained until all is read, or the writer gave up and left less.
        for (bool last_look = false; got.size() < held + block.size();) {
            const bool gave_up = returned.load();
            const ssize_t count = read(read_fd, chunk, sizeof chunk);
            if (count > 0) got.insert(got.end(), chunk, chunk + count);
            else if (last_look) break;
            else if (gave_up) last_look = true;
            else sleep_ms(1);
        }
        writer.join();
        EXPECT_TRUE(wrote) << platform_error_text(error);
        EXPECT_EQ(written, block.size());
        EXPECT_EQ(error, 0);
        ASSERT_EQ(got.size(), held + block.size());
        EXPECT_TRUE(std::equal(block.begin(), block.end(), got.begin() + static_cast<long>(held)));
        close(read_fd);
        close(write_fd);
    }
    sigaction(SIGUSR1, &before, nullptr);
}

// What is no regular file is named, and never opened in a way that waits:
// a FIFO no one writes to would hold an open for reading forever.
TEST(LinuxInterrupt, ProbesAndReaderNameWhatIsNoFileAndNeverWait) {
    ScratchDir scratch;
    const std::string data = scratch.file("data");
    std::ofstream(data) << std::string(8192, 'v');
    const std::string fifo = scratch.file("f_00.BIN"), folder = scratch.file("d_00.BIN"),
                      device = scratch.file("c_00.BIN"), link = scratch.file("l_00.BIN"),
                      dangling = scratch.file("n_00.BIN");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(symlink(data.c_str(), link.c_str()), 0);
    ASSERT_EQ(symlink(scratch.file("missing").c_str(), dangling.c_str()), 0);
    const bool has_device = mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;  // /dev/null's numbers
    const struct {
        std::string name;
        const char* probe_kind;   // what the probes say it is
        const char* reader_kind;  // what the reader says, nullptr: it reads it
    } cases[] = {
        {fifo, "a FIFO", "a FIFO"},
        {folder, "a folder", "a folder"},
        {device, "a device", "a device"},
        // A link is followed by the probes as by the reader: its file's
        // pages are dropped.
        {link, nullptr, nullptr},
        {dangling, "a symbolic link to a missing file", nullptr},
    };
    for (const auto& c : cases) {
        if (c.name == device && !has_device) continue;
        SCOPED_TRACE(c.name);
        std::atomic<bool> done{false};
        int drop_error = 0, open_error = 0;
        CacheResidency residency = CacheResidency::stayed;
        FileHandle file = invalid_file;
        std::thread probe([&] {
            residency = file_cache_residency(c.name.c_str());
            if (file_drop_cached_pages(c.name.c_str(), &drop_error)) drop_error = 0;
            for (bool buffered : {true, false}) {
                if (file != invalid_file) file_close(file);
                file = file_open_read(c.name.c_str(), buffered, &open_error, nullptr);
            }
            done.store(true);
        });
        for (int waited_ms = 0; !done.load() && waited_ms < 30000; waited_ms += 10) sleep_ms(10);
        if (!done.load()) {  // the test holds the FIFO: let it go, then fail
            ADD_FAILURE() << "waited on " << c.name;
            close(open(c.name.c_str(), O_WRONLY | O_NONBLOCK));
        }
        probe.join();
        EXPECT_EQ(residency == CacheResidency::unknown, c.probe_kind != nullptr);
        EXPECT_STREQ(platform_not_a_file_kind(drop_error), c.probe_kind);
        if (!c.probe_kind) {
            EXPECT_EQ(drop_error, 0);
        }
        if (c.reader_kind) {
            EXPECT_EQ(file, invalid_file);
            EXPECT_STREQ(platform_not_a_file_kind(open_error), c.reader_kind);
        } else if (file != invalid_file) {
            file_close(file);
        }
    }
}

}  // namespace
