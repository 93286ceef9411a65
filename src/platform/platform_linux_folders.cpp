// Linux implementation of the folder probes: what the file system under a
// folder does with what is written there (keeps it in memory, compresses
// it). Linux names: statfs magic numbers, /proc/self/mountinfo and the
// inode flags of chattr.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#if __has_include(<linux/fs.h>)
#include <linux/fs.h>
#endif

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "platform/platform_linux_internal.h"

namespace {

constexpr long tmpfs_magic = 0x01021994, ramfs_magic = 0x858458f6;
constexpr long btrfs_magic = 0x9123683e, f2fs_magic = static_cast<long>(0xf2f52010), zfs_magic = 0x2fc12fc1;

bool is_octal(char c) { return c >= '0' && c <= '7'; }

}  // namespace

// mountinfo writes a blank, tab, line end or backslash in a name as \ooo.
std::string mountinfo_unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && is_octal(text[i + 1]) && is_octal(text[i + 2]) &&
            is_octal(text[i + 3])) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// True when mount_point is path or one of the folders above it.
bool mount_point_holds(const std::string& mount_point, const std::string& path) {
    if (mount_point == "/") return true;
    return path.compare(0, mount_point.size(), mount_point) == 0 &&
           (path.size() == mount_point.size() || path[mount_point.size()] == '/');
}

// The mount that holds folder: the deepest mount point above it, the last
// listed where mounts are stacked. false when it cannot be found.
bool mount_of(const char* folder, Mount* found) {
    char real[PATH_MAX];
    if (!realpath(folder, real)) return false;
    std::ifstream mountinfo("/proc/self/mountinfo");
    bool any = false;
    for (std::string line; std::getline(mountinfo, line);) {
        // id parent major:minor root mount-point options [tags...] - type source super-options
        std::istringstream fields(line);
        std::string skip, mount_point;
        fields >> skip >> skip >> skip >> skip >> mount_point;
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        Mount mount;
        mount.mount_point = mountinfo_unescaped(mount_point);
        if (!mount_point_holds(mount.mount_point, real)) continue;
        if (any && mount.mount_point.size() < found->mount_point.size()) continue;
        std::istringstream tail(line.substr(dash + 3));
        tail >> mount.file_system >> mount.source >> mount.options;
        mount.source = mountinfo_unescaped(mount.source);
        *found = mount;
        any = true;
    }
    return any;
}

// The compress or compress-force option of a btrfs mount's options, or ""
// when it stores data as written.
std::string btrfs_compress_option(const std::string& options) {
    std::istringstream list(options);
    for (std::string option; std::getline(list, option, ',');) {
        if (option.rfind("compress", 0) != 0) continue;
        const size_t equals = option.find('=');
        const std::string value = equals == std::string::npos ? "" : option.substr(equals + 1);
        if (value != "no" && value != "none") return option;
    }
    return std::string();
}

namespace {

// The folder's chattr flags: marked for compression (+c), or exempt from a
// mount's compression (+m).
void compression_flags(const char* folder, bool* marked, bool* exempt) {
    *marked = *exempt = false;
#if defined(FS_IOC_GETFLAGS) && defined(FS_COMPR_FL) && defined(FS_NOCOMP_FL)
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    int flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        *marked = (flags & FS_COMPR_FL) != 0;
        *exempt = (flags & FS_NOCOMP_FL) != 0;
    }
    close(fd);
#else
    (void)folder;
#endif
}

}  // namespace

bool path_is_folder(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool same_file_system(const char* path_a, const char* path_b) {
    struct stat a, b;
    return stat(path_a, &a) == 0 && stat(path_b, &b) == 0 && a.st_dev == b.st_dev;
}

bool folder_is_memory_backed(const char* folder) {
    struct statfs info;
    if (statfs(folder, &info) != 0) return false;
    return info.f_type == tmpfs_magic || info.f_type == ramfs_magic;
}

FolderCompression folder_compression(const char* folder) {
    struct statfs info;
    if (statfs(folder, &info) != 0) return {};
    const long type = static_cast<long>(info.f_type);
    Mount mount;
    if (type == zfs_magic) {
        // Its compression is a property of the dataset, which only zfs(8) reads.
        const std::string dataset = mount_of(folder, &mount) && mount.file_system == "zfs" ? mount.source : folder;
        return {CompressionKind::may_compress, "zfs", "zfs get compression " + dataset};
    }
    if (type != btrfs_magic && type != f2fs_magic) return {};
    bool marked = false, exempt = false;
    compression_flags(folder, &marked, &exempt);
    if (type == btrfs_magic && mount_of(folder, &mount) && mount.file_system == "btrfs") {
        // compress-force overrides a folder's exemption; compress does not.
        const std::string option = btrfs_compress_option(mount.options);
        if (!option.empty() && (option.rfind("compress-force", 0) == 0 || !exempt))
            return {CompressionKind::mount_option, "btrfs", option};
    }
    if (marked) return {CompressionKind::folder_marked, type == btrfs_magic ? "btrfs" : "f2fs", ""};
    return {};
}
