// Linux implementation of the platform layer: how much a memory-backed
// folder can take before memory runs out, system-wide and in the memory
// cgroup this process sits in (cgroup v1 or v2).
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <sstream>

#include "platform/platform_linux_internal.h"

std::string memory_cgroup_folder(const std::string& proc_self_cgroup) {
    std::istringstream lines(proc_self_cgroup);
    std::string line, unified;
    while (std::getline(lines, line)) {
        // hierarchy:controllers:path; the path may itself hold colons.
        const size_t first = line.find(':'), second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        const std::string path = line.substr(second + 1);
        if (controllers.find(",memory,") != std::string::npos) return "/sys/fs/cgroup/memory" + path;
        if (line.compare(0, first + 2, "0::") == 0 && first == 1) unified = "/sys/fs/cgroup" + path;
    }
    return unified;
}

namespace {

// The first number in a small file, or none when it holds "max" or cannot
// be read.
bool read_number(const std::string& path, uint64_t* value) {
    FILE* in = fopen(path.c_str(), "re");
    if (!in) return false;
    unsigned long long number = 0;
    const bool read = fscanf(in, "%llu", &number) == 1;
    fclose(in);
    *value = number;
    return read;
}

// The room left in the cgroup at folder and every one above it: the least
// of their limits less their use; UINT64_MAX where none sets a limit.
uint64_t cgroup_room_bytes(std::string folder) {
    const bool v1 = folder.compare(0, 22, "/sys/fs/cgroup/memory/") == 0 || folder == "/sys/fs/cgroup/memory";
    const std::string root = v1 ? "/sys/fs/cgroup/memory" : "/sys/fs/cgroup";
    uint64_t room = UINT64_MAX;
    while (true) {
        uint64_t limit = 0, usage = 0;
        if (read_number(folder + (v1 ? "/memory.limit_in_bytes" : "/memory.max"), &limit) &&
            read_number(folder + (v1 ? "/memory.usage_in_bytes" : "/memory.current"), &usage))
            room = std::min(room, limit > usage ? limit - usage : 0);
        if (folder.size() <= root.size()) break;
        folder.erase(folder.rfind('/'));
    }
    return room;
}

std::string whole_file(const char* path) {
    FILE* in = fopen(path, "re");
    if (!in) return std::string();
    std::string text;
    char chunk[512];
    for (size_t count; (count = fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, count);
    fclose(in);
    return text;
}

}  // namespace

uint64_t memory_for_files_bytes() {
    uint64_t room = available_memory_bytes();
    if (room == 0) room = UINT64_MAX;
    const std::string cgroup = memory_cgroup_folder(whole_file("/proc/self/cgroup"));
    if (!cgroup.empty()) room = std::min(room, cgroup_room_bytes(cgroup));
    return room == UINT64_MAX ? 0 : room;
}

uint64_t folder_free_bytes(const char* folder) {
    struct statvfs info;
    if (statvfs(folder, &info) != 0) return 0;
    if (info.f_blocks == 0) return UINT64_MAX;  // ramfs: no size of its own
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}
