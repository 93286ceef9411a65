// Linux implementation of the platform layer: reading test files back, and
// the page cache around them.
#include "platform/platform_linux_internal.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// The code that stands for a name of mode that is no regular file, which
// platform_not_a_file_kind puts in words; 0 for a regular file.
int not_a_file_error(mode_t mode) {
    if (S_ISREG(mode)) return 0;
    if (S_ISDIR(mode)) return EISDIR;
    if (S_ISFIFO(mode)) return ESPIPE;
    if (S_ISLNK(mode)) return ELOOP;
    if (S_ISSOCK(mode)) return ENOTSOCK;
    return ENODEV;  // a character or block device
}

// The code for what name is when it is no regular file (links followed),
// or 0.
int not_a_file_error(const char* name) {
    struct stat st;
    return stat(name, &st) == 0 ? not_a_file_error(st.st_mode) : 0;
}

// Opens name for the cache probes as file_open_read opens it: through a
// link to a file, in a shared folder only where the guard allows it (not
// through another user's link); never waiting (on a FIFO with no writer)
// and never opening a device. Returns -1 with *error set otherwise, ELOOP
// for a link to nothing.
int open_for_probe(const char* name, int* error) {
    struct stat st;
    if (stat(name, &st) != 0) {
        *error = errno;
        if (*error == ENOENT && lstat(name, &st) == 0 && S_ISLNK(st.st_mode)) *error = ELOOP;
        return -1;
    }
    if ((*error = not_a_file_error(st.st_mode)) != 0) return -1;
    // Checked again once open: the name may have been replaced meanwhile.
    const int fd = open_guarded(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK, false, error, nullptr);
    if (fd < 0) return -1;
    *error = fstat(fd, &st) == 0 ? not_a_file_error(st.st_mode) : errno;
    if (*error == 0) return fd;
    close(fd);
    return -1;
}

}  // namespace

const char* platform_not_a_file_kind(int error) {
    switch (error) {
        case EISDIR: return "a folder";
        case ESPIPE: return "a FIFO";
        case ENODEV: return "a device";
        case ENOTSOCK: return "a socket";
        case ELOOP: return "a symbolic link to a missing file";
        default: return nullptr;
    }
}

FileHandle file_open_read(const char* name, bool buffered, int* error, ForeignEntry* foreign) {
    // Non-blocking, so that a FIFO in the file's place is not waited on.
    int fd = open_guarded(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | (buffered ? 0 : O_DIRECT), false, error,
                          foreign);
    // Only a regular file is a test file. A folder opens for reading, or is
    // refused O_DIRECT where its file system has no unbuffered path; a
    // device without its driver is refused: say what each is. A foreign
    // link refused above stays refused, whatever it points at.
    struct stat st;
    const int kind = fd < 0 ? (*error != EPERM ? not_a_file_error(name) : 0)
                            : fstat(fd, &st) == 0 ? not_a_file_error(st.st_mode) : 0;
    if (kind != 0) {
        if (fd >= 0) close(fd);
        *error = kind;
        return invalid_file;
    }
    if (fd < 0) return invalid_file;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // A larger read-ahead window for the one pass from start to end.
    if (buffered) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

bool file_read_at(FileHandle file, void* data, size_t bytes, uint64_t offset, size_t* got, int* error) {
    ssize_t count;
    while ((count = pread(static_cast<int>(file), data, bytes, static_cast<off_t>(offset))) < 0 && errno == EINTR) {
    }
    *got = count < 0 ? 0 : static_cast<size_t>(count);
    *error = count < 0 ? errno : 0;
    return count >= 0;
}

bool file_size_bytes(FileHandle file, uint64_t* bytes, int* error) {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) {
        *error = errno;
        return false;
    }
    *bytes = static_cast<uint64_t>(st.st_size);
    return true;
}

bool file_next_hole(FileHandle file, uint64_t from_bytes, uint64_t end_bytes, ByteRange* hole) {
    const int fd = static_cast<int>(file);
    // Where SEEK_HOLE is not known, the file reads as data to its end: the
    // end of the file is the only hole it reports.
    const off_t start = lseek(fd, static_cast<off_t>(from_bytes), SEEK_HOLE);
    if (start < 0 || static_cast<uint64_t>(start) >= end_bytes) return false;
    const off_t data = lseek(fd, start, SEEK_DATA);  // ENXIO: no data past it
    hole->start_bytes = static_cast<uint64_t>(start);
    hole->end_bytes = data < 0 ? end_bytes : std::min(end_bytes, static_cast<uint64_t>(data));
    return true;
}

bool file_drop_cached_pages(const char* name, int* error) {
    // A foreign link in a shared folder is left alone: the reader of the
    // file says so. An own link is followed, as the reader follows it.
    int fd = open_for_probe(name, error);
    if (fd < 0) return false;
    // Dirty pages cannot be dropped: write them out first.
    int result = fdatasync(fd) == 0 ? posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) : errno;
    close(fd);
    *error = result;
    return result == 0;
}

CacheResidency file_cache_residency(const char* name) {
    constexpr off_t window_bytes = 4 << 20;  // the first pages tell
    unsigned char held[window_bytes / 4096];
    int error = 0;
    int fd = open_for_probe(name, &error);
    struct stat st;
    if (fd < 0) return CacheResidency::unknown;
    // mincore reports a page-cache side channel only to the file's owner,
    // root or who may write the file; to anyone else every page is held.
    const bool shown = fstat(fd, &st) == 0 && (st.st_uid == geteuid() || geteuid() == 0 ||
                                               faccessat(AT_FDCWD, name, W_OK, AT_EACCESS) == 0);
    if (!shown) {
        close(fd);
        return CacheResidency::hidden;
    }
    const size_t bytes = fstat(fd, &st) == 0 ? static_cast<size_t>(std::min(st.st_size, window_bytes)) : 0;
    void* map = bytes ? mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    close(fd);
    if (map == MAP_FAILED) return CacheResidency::unknown;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE)), pages = (bytes + page - 1) / page;
    const bool known = pages <= sizeof held && mincore(map, bytes, held) == 0;
    size_t resident = 0;
    for (size_t i = 0; known && i < pages; ++i) resident += held[i] & 1u;
    munmap(map, bytes);
    if (!known) return CacheResidency::unknown;
    return resident * 2 > pages ? CacheResidency::stayed : CacheResidency::dropped;
}
