// Linux implementation of the platform layer: opening a test file in a
// folder other users share.
//
// In a folder such as /tmp (sticky, writable by everyone) any user may put
// a symbolic link, or a file, under the name of the next run's test file,
// and a run as root would follow the link and fill whatever it points to,
// or cut the file. The kernel guards against that where fs.protected_symlinks
// and fs.protected_regular are on; many containers, chroots and older
// systems leave them off, so the same rules are applied here. The folder
// is opened once and the name looked at relative to it, so what is checked
// is what gets opened: in a sticky folder only the entry's owner, the
// folder's owner and root can replace an entry, and those are trusted.
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform_linux_internal.h"

namespace {

// Sticky, and writable by users other than its owner and group.
bool shared_sticky(uint32_t folder_mode) { return (folder_mode & S_ISVTX) && (folder_mode & S_IWOTH); }

}  // namespace

bool shared_folder_allows(uint32_t folder_mode, uint32_t folder_owner_id, uint32_t entry_owner_id,
                          uint32_t user_id) {
    return !shared_sticky(folder_mode) || entry_owner_id == user_id || entry_owner_id == folder_owner_id;
}

namespace {

#ifdef O_PATH
constexpr int folder_open_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // needs no read permission
#else
constexpr int folder_open_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

}  // namespace

ForeignEntry foreign_entry(ForeignKind kind, uint32_t owner_id, const std::string& folder) {
    ForeignEntry foreign;
    foreign.kind = kind;
    // A user's name, or its number where the system lists none.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> text(size > 0 ? static_cast<size_t>(size) : 4096u);
    struct passwd entry, *found = nullptr;
    foreign.owner = getpwuid_r(owner_id, &entry, text.data(), text.size(), &found) == 0 && found
                        ? found->pw_name
                        : std::to_string(owner_id);
    char full[PATH_MAX];
    foreign.folder = realpath(folder.c_str(), full) ? full : folder;
    return foreign;
}

namespace {

// Fills *foreign for a refused entry.
int refuse(ForeignKind kind, uid_t owner, const std::string& folder, int* error, ForeignEntry* foreign) {
    *error = EPERM;
    if (foreign) *foreign = foreign_entry(kind, owner, folder);
    return -1;
}

int fail(int* error) {
    *error = errno;
    return -1;
}

// The open in a shared sticky folder: never through a link before its
// owner is known, never cutting a file before its owner is known.
int open_in_shared_folder(int folder_fd, const struct stat& folder_st, const std::string& folder, const char* leaf,
                          int flags, bool cut, int* error, ForeignEntry* foreign) {
    const uid_t user = geteuid();
    // An entry replaced between two looks (by someone trusted: see above)
    // is looked at afresh, a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        int fd = openat(folder_fd, leaf, flags | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            struct stat st;
            if (fstat(fd, &st) != 0) {
                fail(error);
                close(fd);
                return -1;
            }
            // Devices and FIFOs are written as they are, as O_TRUNC leaves them.
            if (!cut || !S_ISREG(st.st_mode)) return fd;
            if (!shared_folder_allows(folder_st.st_mode, folder_st.st_uid, st.st_uid, user)) {
                close(fd);
                return refuse(ForeignKind::file, st.st_uid, folder, error, foreign);
            }
            if (ftruncate(fd, 0) != 0) {
                fail(error);
                close(fd);
                return -1;
            }
            return fd;
        }
        // ELOOP: the name is a link. EACCES may be the kernel's own guard,
        // which also answers so for a link met with O_CREAT: look closer.
        const int open_error = errno;
        if (open_error != ELOOP && open_error != EACCES) return fail(error);
        struct stat entry;
        if (fstatat(folder_fd, leaf, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            return fail(error);
        }
        const bool allowed = shared_folder_allows(folder_st.st_mode, folder_st.st_uid, entry.st_uid, user);
        if (S_ISLNK(entry.st_mode)) {
            if (!allowed) return refuse(ForeignKind::link, entry.st_uid, folder, error, foreign);
            fd = openat(folder_fd, leaf, flags | (cut ? O_TRUNC : 0), 0666);
            return fd >= 0 ? fd : fail(error);
        }
        if (open_error == EACCES) {
            if (cut && S_ISREG(entry.st_mode) && !allowed)
                return refuse(ForeignKind::file, entry.st_uid, folder, error, foreign);
            *error = EACCES;
            return -1;
        }
    }
    *error = ELOOP;
    return -1;
}

}  // namespace

int open_guarded(const char* name, int flags, bool cut, int* error, ForeignEntry* foreign) {
    const char* slash = std::strrchr(name, '/');
    const char* leaf = slash ? slash + 1 : name;
    if (*leaf == '\0') {  // no last part to look at: the system says what it makes of it
        int fd = open(name, flags | (cut ? O_TRUNC : 0), 0666);
        return fd >= 0 ? fd : fail(error);
    }
    const std::string folder = !slash ? "." : slash == name ? "/" : std::string(name, static_cast<size_t>(slash - name));
    const int folder_fd = open(folder.c_str(), folder_open_flags);
    if (folder_fd < 0) return fail(error);
    struct stat folder_st;
    int fd;
    if (fstat(folder_fd, &folder_st) != 0)
        fd = fail(error);
    else if (shared_sticky(folder_st.st_mode))
        fd = open_in_shared_folder(folder_fd, folder_st, folder, leaf, flags, cut, error, foreign);
    else if ((fd = openat(folder_fd, leaf, flags | (cut ? O_TRUNC : 0), 0666)) < 0)
        fail(error);
    close(folder_fd);
    return fd;
}
