// A scratch folder for tests that write files: on /dev/shm when it is there
// (memory, fast), else under $TMPDIR or /tmp; removed with everything in it.
// Tests of unbuffered runs ask for a folder that takes O_DIRECT: tmpfs does
// only on newer kernels (6.6 on), so there the folder may be on a disk.
// Tests of the page cache ask for a folder on a disk, whose cached pages can
// be dropped.
#pragma once

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

enum class ScratchUse { any, unbuffered, disk };

class ScratchDir {
public:
    // With ScratchUse::unbuffered the folder takes files opened with
    // O_DIRECT, with ScratchUse::disk it is not on tmpfs or ramfs; when no
    // candidate is, path() is "" and unbuffered_note() or disk_note() says
    // why, for GTEST_SKIP.
    explicit ScratchDir(ScratchUse use = ScratchUse::any) {
        namespace fs = std::filesystem;
        std::vector<std::string> bases = {"/dev/shm"};
        if (const char* tmp = std::getenv("TMPDIR")) bases.push_back(tmp);
        bases.push_back("/tmp");
        bases.push_back("/var/tmp");
        for (const std::string& base : bases) {
            std::error_code error;
            if (!fs::is_directory(base, error)) continue;
            std::string pattern = base + "/vorlax-test-XXXXXX";
            if (!mkdtemp(pattern.data())) continue;
            if ((use == ScratchUse::unbuffered && !takes_direct_io(pattern)) ||
                (use == ScratchUse::disk && in_memory(pattern))) {
                skipped_ += (skipped_.empty() ? "" : ", ") + base;
                fs::remove_all(pattern, error);
                continue;
            }
            path_ = pattern;
            return;
        }
        if (use != ScratchUse::any) return;
        std::abort();
    }
    ~ScratchDir() {
        std::error_code error;
        if (!path_.empty()) std::filesystem::remove_all(path_, error);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Why there is no folder for unbuffered files.
    std::string unbuffered_note() const {
        return "no scratch folder takes unbuffered (O_DIRECT) files; tried " + skipped_;
    }
    // Why there is no folder on a disk.
    std::string disk_note() const {
        return "no scratch folder on a disk (tmpfs and ramfs keep their pages in memory); tried " + skipped_;
    }

private:
    static bool takes_direct_io(const std::string& folder) {
        const std::string probe = folder + "/direct-probe";
        int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_DIRECT, 0600);
        if (fd >= 0) close(fd);
        unlink(probe.c_str());
        return fd >= 0;
    }

    static bool in_memory(const std::string& folder) {
        struct statfs info;
        return statfs(folder.c_str(), &info) == 0 &&
               (info.f_type == static_cast<decltype(info.f_type)>(TMPFS_MAGIC) ||
                info.f_type == static_cast<decltype(info.f_type)>(RAMFS_MAGIC));
    }

    std::string path_;
    std::string skipped_;
};

// The whole content of a file, or "" when it cannot be read.
inline std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::string();
    std::string data(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    return data;
}

// Index of the first block of block_bytes in data whose bytes are not all its
// block number mod 256, or -1 when every whole block holds its pattern.
inline long long first_bad_block(const std::string& data, size_t block_bytes) {
    std::string expected;
    for (size_t start = 0; start + block_bytes <= data.size(); start += block_bytes) {
        expected.assign(block_bytes, static_cast<char>((start / block_bytes) & 0xFF));
        if (data.compare(start, block_bytes, expected) != 0) return static_cast<long long>(start / block_bytes);
    }
    return -1;
}
