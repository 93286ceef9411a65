// Linux implementation of the platform layer: what a name given for the run
// record is (a file to replace, a device or FIFO to write into, a link to
// follow), whether two names are one file, and the open of a device or
// FIFO as it is.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform_linux_internal.h"

bool sticky_folder_lets_replace(uint32_t folder_mode, uint32_t folder_owner_id, uint32_t entry_owner_id,
                                uint32_t user_id) {
    return !(folder_mode & S_ISVTX) || user_id == 0 || entry_owner_id == user_id || folder_owner_id == user_id;
}

namespace {

// The folder part of path ("." when it has none), and its last part.
std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string leaf_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

EntryFacts entry_facts(const char* name) {
    EntryFacts facts;
    std::string path = name;
    const uid_t user = geteuid();
    // A chain of links, each looked at before it is followed; the kernel's
    // own limit of 40 ends a loop.
    for (int hop = 0; hop < 40; ++hop) {
        facts.target = path;
        struct stat entry, folder;
        if (lstat(path.c_str(), &entry) != 0) return facts;  // missing, or not to be looked at: the create says why
        if (stat(folder_of(path).c_str(), &folder) != 0) folder = {};
        if (S_ISLNK(entry.st_mode)) {
            if (!shared_folder_allows(folder.st_mode, folder.st_uid, entry.st_uid, user)) {
                facts.foreign = foreign_entry(ForeignKind::link, entry.st_uid, folder_of(path));
                return facts;
            }
            char text[PATH_MAX];
            const ssize_t length = readlink(path.c_str(), text, sizeof text - 1);
            if (length <= 0) return facts;
            const std::string link(text, static_cast<size_t>(length));
            path = link[0] == '/' || path.find('/') == std::string::npos ? link : folder_of(path) + "/" + link;
            continue;
        }
        facts.kind = S_ISDIR(entry.st_mode)   ? EntryKind::folder
                     : S_ISREG(entry.st_mode) ? EntryKind::file
                     : S_ISBLK(entry.st_mode) ? EntryKind::block_device
                                              : EntryKind::stream;
        if (facts.kind == EntryKind::file &&
            !sticky_folder_lets_replace(folder.st_mode, folder.st_uid, entry.st_uid, user))
            facts.foreign = foreign_entry(ForeignKind::file, entry.st_uid, folder_of(path));
        return facts;
    }
    return facts;
}

namespace {

// The name with its links followed and its folder's path made absolute:
// one text for one file, existing or not; "" when the folder is missing.
std::string canonical_name(const char* name) {
    const std::string target = entry_facts(name).target;
    char full[PATH_MAX];
    if (!realpath(folder_of(target).c_str(), full)) return std::string();
    return std::string(full) + (full[1] ? "/" : "") + leaf_of(target);
}

}  // namespace

bool names_one_file(const char* a, const char* b) {
    struct stat st_a, st_b;
    if (stat(a, &st_a) == 0 && stat(b, &st_b) == 0) return st_a.st_dev == st_b.st_dev && st_a.st_ino == st_b.st_ino;
    const std::string canonical = canonical_name(a);
    return !canonical.empty() && canonical == canonical_name(b);
}

FileHandle file_open_stream(const char* name, int* error) {
    // O_NONBLOCK: a FIFO with no reader fails at once (ENXIO) rather than
    // waiting for one; once open, writes wait for the reader as in a pipe.
    const int fd = open(name, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return invalid_file;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool platform_is_unread(int error) { return error == ENXIO; }
