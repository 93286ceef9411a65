// A memory cgroup a test makes for the programs it runs, so that a run too
// large for memory puts the test's own processes at risk, never the
// machine's.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A memory cgroup of the test's own (v1 memory hierarchy, else v2), removed
// at the end; path() is "" with why() when none can be made here.
class MemoryCgroup {
public:
    explicit MemoryCgroup(const std::string& limit) {
        const std::string name = "vorlax-platform-" + std::to_string(getpid());
        const bool v1 = std::filesystem::exists("/sys/fs/cgroup/memory/memory.limit_in_bytes") ||
                        std::filesystem::exists("/sys/fs/cgroup/memory/cgroup.procs");
        std::ifstream controls("/sys/fs/cgroup/cgroup.subtree_control");
        std::string controllers((std::istreambuf_iterator<char>(controls)), std::istreambuf_iterator<char>());
        if (!v1 && controllers.find("memory") == std::string::npos) {
            why_ = "no cgroup v1 memory hierarchy, and the v2 root does not hand out the memory controller";
            return;
        }
        const std::string path = (v1 ? "/sys/fs/cgroup/memory/" : "/sys/fs/cgroup/") + name;
        if (mkdir(path.c_str(), 0755) != 0) {
            why_ = "cannot make " + path + ": " + std::strerror(errno);
            return;
        }
        path_ = path;
        std::ofstream(path + (v1 ? "/memory.limit_in_bytes" : "/memory.max")) << limit;
        std::ofstream(path + (v1 ? "/memory.memsw.limit_in_bytes" : "/memory.swap.max")) << (v1 ? limit : "0");
    }
    ~MemoryCgroup() {
        if (!path_.empty()) rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }
    const std::string& why() const { return why_; }

private:
    std::string path_, why_;
};
