// FIFOs in place of test files, read by the test itself: a run that writes
// into them cannot end before the test lets it, however fast the machine.
// Hold them (the writers block once a FIFO is full), then release them
// (a thread reads everything at full pace until the sink is destroyed).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

class FifoSink {
public:
    // Makes a FIFO that anyone may write at each path and opens both of its
    // ends: the writer's open never waits, and with a write end of its own
    // kept open the sink never reads an end of file.
    explicit FifoSink(const std::vector<std::string>& paths) : drained_(paths.size()) {
        for (const std::string& path : paths) {
            if (mkfifo(path.c_str(), 0666) != 0 || chmod(path.c_str(), 0666) != 0) std::abort();
            int read_end = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            int write_end = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (read_end < 0 || write_end < 0) std::abort();
            fcntl(read_end, F_SETPIPE_SZ, 1 << 20);  // fewer, larger reads; no matter if refused
            read_ends_.push_back(read_end);
            write_ends_.push_back(write_end);
        }
    }
    ~FifoSink() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        for (int fd : read_ends_) close(fd);
        for (int fd : write_ends_) close(fd);
    }
    FifoSink(const FifoSink&) = delete;
    FifoSink& operator=(const FifoSink&) = delete;

    // Bytes written into FIFO i and not read yet (those held, before release).
    size_t waiting_bytes(size_t i) const {
        int bytes = 0;
        return ioctl(read_ends_[i], FIONREAD, &bytes) == 0 ? static_cast<size_t>(bytes) : 0;
    }

    // Starts reading every FIFO as fast as data comes. Once.
    void release() {
        if (!reader_.joinable()) reader_ = std::thread([this] { read_all(); });
    }

    // Bytes read from FIFO i so far. Once the writer has closed it and the
    // sink has been stopped, that is all it wrote.
    unsigned long long drained_bytes(size_t i) const { return drained_[i].load(); }

    // Reads what is left and stops reading; for use after the run ended.
    void stop() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
    }

private:
    void read_all() {
        std::vector<char> chunk(1 << 20);
        std::vector<pollfd> fds;
        for (int fd : read_ends_) fds.push_back({fd, POLLIN, 0});
        for (;;) {
            // Looked at before the poll: after a stop, one more pass reads
            // whatever was written before it.
            const bool last_pass = stop_;
            if (poll(fds.data(), fds.size(), last_pass ? 0 : 20) < 0) continue;
            for (size_t i = 0; i < fds.size(); ++i) {
                ssize_t count;
                while ((count = read(fds[i].fd, chunk.data(), chunk.size())) > 0) drained_[i] += count;
            }
            if (last_pass) return;
        }
    }

    std::vector<int> read_ends_;
    std::vector<int> write_ends_;
    std::vector<std::atomic<unsigned long long>> drained_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};
