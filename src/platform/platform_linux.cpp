// Linux implementation of the platform layer: process setup, errors,
// writing files, memory, threads, time and the one-shot signal. The folder
// probes are in platform_linux_folders.cpp, the reading side in
// platform_linux_read.cpp, the open that guards shared folders in
// platform_linux_guard.cpp.
#include "platform/platform_linux_internal.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

const char* const platform_default_prefix = "./";
const size_t platform_max_path_bytes = PATH_MAX;
const char* const platform_name_forbidden_chars = "";
const char* const platform_short_write_causes = "the disk may be full or a file size limit reached";

NameLengthLimit platform_name_length_limit(const std::string& name) {
    const size_t slash = name.rfind('/');
    const size_t last = slash == std::string::npos ? name.size() : name.size() - slash - 1;
    if (last > NAME_MAX) return {"one name", last, NAME_MAX};
    if (name.size() >= PATH_MAX) return {"a whole path", name.size(), PATH_MAX - 1};
    return {};
}
const char* const platform_device_log = "the kernel's log (journalctl -k or dmesg)";
const PlatformHelpWords platform_help_words = {"/mnt/ssd/run", "/", "rm", "O_DIRECT", "man %s", "--help", ""};

void platform_init_process() {
    // A file size limit must fail the write (EFBIG) so the thread can report
    // its whole blocks, not kill the process.
    signal(SIGXFSZ, SIG_IGN);
    // Started with stdin, stdout or stderr closed, the first test file would
    // get that number and the lines meant for the console would land in it.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            int null_fd = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (null_fd >= 0 && null_fd != fd) {
                dup2(null_fd, fd);
                close(null_fd);
            }
        }
}

std::string platform_error_text(int error) {
    char text[256];
    // The GNU strerror_r may return a static string instead of filling text.
    const char* message = strerror_r(error, text, sizeof text);
    return message;
}

bool platform_is_unbuffered_refusal(int error) { return error == EINVAL; }

bool platform_is_missing_folder(int error) { return error == ENOENT; }

bool platform_is_read_only_volume(int error) { return error == EROFS; }

bool platform_is_missing_file(int error) { return error == ENOENT; }

bool platform_is_folder(int error) { return error == EISDIR; }

bool platform_is_out_of_space(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

std::string platform_missing_drive(const char*) { return std::string(); }

FileHandle file_create(const char* name, bool buffered, int* error, ForeignEntry* foreign) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (!buffered) flags |= O_DIRECT;
    int fd = open_guarded(name, flags, true, error, foreign);
    return fd < 0 ? invalid_file : fd;
}

bool file_write(FileHandle file, const void* data, size_t bytes, size_t* written, int* error) {
    // A signal caught during the write (a handler installed without
    // SA_RESTART, as MPI libraries do) ends it early: with nothing written
    // (EINTR) it is tried again, after a part the rest follows. An error
    // after a part (a full disk) leaves the part as a short write, as the
    // one write it was before.
    const auto* from = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < bytes) {
        ssize_t count = write(static_cast<int>(file), from + done, bytes - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && done == 0) {
            *written = 0;
            *error = errno;
            return false;
        }
        if (count <= 0) break;
        done += static_cast<size_t>(count);
    }
    *written = done;
    *error = 0;
    return true;
}

// Reads one unsigned number from a small sysfs file; 0 when it cannot.
static uint32_t read_sysfs_number(const char* path) {
    FILE* in = fopen(path, "re");
    if (!in) return 0;
    unsigned value = 0;
    if (fscanf(in, "%u", &value) != 1) value = 0;
    fclose(in);
    return value;
}

uint32_t file_unbuffered_alignment_bytes(FileHandle file) {
    int fd = static_cast<int>(file);
#ifdef STATX_DIOALIGN
    struct statx info;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &info) == 0 &&
        (info.stx_mask & STATX_DIOALIGN) && info.stx_dio_offset_align != 0)
        return info.stx_dio_offset_align;
#endif
    // Older kernels: the logical block size of the device under the file.
    struct stat st;
    if (fstat(fd, &st) != 0) return 0;
    char path[96];
    unsigned dev_major = major(st.st_dev), dev_minor = minor(st.st_dev);
    snprintf(path, sizeof path, "/sys/dev/block/%u:%u/queue/logical_block_size", dev_major, dev_minor);
    if (uint32_t bytes = read_sysfs_number(path)) return bytes;
    // A partition keeps its queue on the whole disk, one level up.
    snprintf(path, sizeof path, "/sys/dev/block/%u:%u/../queue/logical_block_size", dev_major, dev_minor);
    return read_sysfs_number(path);
}

bool file_sync(FileHandle file, int* error) {
    // EINVAL: a file that cannot be synced, such as /dev/null, holds nothing
    // to make durable.
    if (fsync(static_cast<int>(file)) == 0 || errno == EINVAL) return true;
    *error = errno;
    return false;
}

void file_close(FileHandle file) { close(static_cast<int>(file)); }

void* pages_alloc(size_t bytes, int* error) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        *error = errno;
        return nullptr;
    }
    // Both are hints: large pages where the system allows them, and every
    // page in place now, in one call, rather than one fault at a time during
    // the first block.
#ifdef MADV_HUGEPAGE
    madvise(pages, bytes, MADV_HUGEPAGE);
#endif
#ifdef MADV_POPULATE_WRITE
    madvise(pages, bytes, MADV_POPULATE_WRITE);
#endif
    return pages;
}

void pages_free(void* pages, size_t bytes) { munmap(pages, bytes); }

uint64_t available_memory_bytes() {
    FILE* in = fopen("/proc/meminfo", "re");
    if (!in) return 0;
    char line[128];
    unsigned long long kb = 0;
    while (fgets(line, sizeof line, in))
        if (sscanf(line, "MemAvailable: %llu kB", &kb) == 1) break;
    fclose(in);
    return static_cast<uint64_t>(kb) * 1024u;
}

namespace {

// The writer needs little beyond a file name and one formatted print;
// sanitizers multiply stack use, so leave them room.
constexpr size_t thread_stack_bytes = 512 * 1024;

struct ThreadStart {
    ThreadRoutine routine;
    void* arg;
};

void* thread_trampoline(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.routine(start.arg);
    return nullptr;
}

}  // namespace

bool thread_start(ThreadRoutine routine, void* arg, ThreadHandle* thread, int* error) {
    auto* start = new (std::nothrow) ThreadStart{routine, arg};
    if (!start) {
        *error = ENOMEM;
        return false;
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, thread_stack_bytes);
    pthread_t id;
    int result = pthread_create(&id, &attr, thread_trampoline, start);
    pthread_attr_destroy(&attr);
    if (result != 0) {
        delete start;
        *error = result;
        return false;
    }
    thread->value = static_cast<uintptr_t>(id);
    return true;
}

void thread_join(ThreadHandle thread) { pthread_join(static_cast<pthread_t>(thread.value), nullptr); }

uint64_t tick_ms() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

uint64_t tick_ns() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void sleep_ms(uint32_t ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    struct timespec pause = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

struct DoneSignal {
    pthread_mutex_t lock;
    pthread_cond_t changed;
    bool set;
};

DoneSignal* signal_create() {
    auto* signal = new DoneSignal;
    pthread_mutex_init(&signal->lock, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&signal->changed, &attr);
    pthread_condattr_destroy(&attr);
    signal->set = false;
    return signal;
}

void signal_set(DoneSignal* signal) {
    pthread_mutex_lock(&signal->lock);
    signal->set = true;
    pthread_cond_broadcast(&signal->changed);
    pthread_mutex_unlock(&signal->lock);
}

bool signal_wait_ms(DoneSignal* signal, uint32_t timeout_ms) {
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&signal->lock);
    while (!signal->set) {
        if (pthread_cond_timedwait(&signal->changed, &signal->lock, &deadline) == ETIMEDOUT) break;
    }
    bool set = signal->set;
    pthread_mutex_unlock(&signal->lock);
    return set;
}

void signal_destroy(DoneSignal* signal) {
    pthread_cond_destroy(&signal->changed);
    pthread_mutex_destroy(&signal->lock);
    delete signal;
}
