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
#include <vector>

#include "../support/scratch_dir.h"

// A memory cgroup of the test's own (v1 memory hierarchy, else v2) and an
// empty folder to mount a file system over, both removed at the end;
// path() is "" with why() when none can be made here.
class MemoryCgroup {
public:
    explicit MemoryCgroup(const std::string& limit) : mount_folder_(scratch_.file("mnt")) {
        if (geteuid() != 0) {
            why_ = "making a memory cgroup needs root";
            return;
        }
        std::filesystem::create_directory(mount_folder_);
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
    const std::string& mount_folder() const { return mount_folder_; }

    // The words that run the rest in this cgroup, in a mount namespace of
    // its own with mount's arguments ("-t ramfs ramfs") mounted over
    // mount_folder(); the mount and its files go with the namespace.
    std::vector<std::string> confined(const std::string& mount) const {
        return {"unshare", "-m", "sh", "-c",
                "echo $$ > " + path_ + "/cgroup.procs && mount " + mount + " " + mount_folder_ + " && exec \"$@\"",
                "sh"};
    }

private:
    ScratchDir scratch_;
    std::string mount_folder_, path_, why_;
};
