// Linux implementation of the facts a run record holds: uname, sysconf,
// /proc/cpuinfo, statvfs, /proc/self/mountinfo and /sys/dev/block.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "platform/platform_linux_internal.h"

std::string file_text(const std::string& name) {
    std::ifstream file(name);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

namespace {

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

// The "KEY=value" of a uevent file's text.
std::string uevent_value(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return std::string();
}

}  // namespace

std::string cpuinfo_value(const std::string& text, const char* key) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(':');
        if (colon != std::string::npos && trimmed(line.substr(0, colon)) == key)
            return trimmed(line.substr(colon + 1));
    }
    return std::string();
}

MachineFacts machine_facts() {
    MachineFacts facts;
    struct utsname names;
    if (uname(&names) == 0) {
        facts.system = names.sysname;
        facts.kernel = names.release;
    }
    facts.cpu = cpuinfo_value(file_text("/proc/cpuinfo"), "model name");
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (cores > 0) facts.cores = static_cast<uint32_t>(cores);
    const long pages = sysconf(_SC_PHYS_PAGES), page_bytes = sysconf(_SC_PAGESIZE);
    if (pages > 0 && page_bytes > 0)
        facts.memory_mb = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_bytes) >> 20;
    return facts;
}

TargetFacts target_facts(const char* folder) {
    TargetFacts facts;
    struct statvfs space;
    if (statvfs(folder, &space) == 0) {
        facts.free_known = true;
        facts.free_mb = static_cast<uint64_t>(space.f_bavail) * space.f_frsize >> 20;
    }
    Mount mount;
    if (mount_of(folder, &mount)) facts.file_system = mount.file_system;
    struct stat info;
    if (stat(folder, &info) != 0 || major(info.st_dev) == 0) return facts;  // 0: no block device (tmpfs, nfs)
    char sys_name[64];
    snprintf(sys_name, sizeof sys_name, "/sys/dev/block/%u:%u", major(info.st_dev), minor(info.st_dev));
    char real[PATH_MAX];
    if (!realpath(sys_name, real)) return facts;
    std::string disk = real;
    const std::string name = uevent_value(file_text(disk + "/uevent"), "DEVNAME");
    if (!name.empty()) facts.device = "/dev/" + name;
    // A partition's disk is the folder above it; the disk names its model.
    if (access((disk + "/partition").c_str(), F_OK) == 0) disk = disk.substr(0, disk.rfind('/'));
    facts.model = trimmed(file_text(disk + "/device/model"));
    return facts;
}

bool file_replace(const char* from, const char* to, int* error) {
    if (rename(from, to) == 0) return true;
    *error = errno;
    return false;
}

bool file_remove(const char* name, int* error) {
    if (unlink(name) == 0) return true;
    if (error) *error = errno;
    return false;
}
