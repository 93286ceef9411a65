// A scratch folder for tests that write files: on /dev/shm when it is there
// (memory, fast), else under $TMPDIR or /tmp; removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

class ScratchDir {
public:
    ScratchDir() {
        namespace fs = std::filesystem;
        std::vector<std::string> bases = {"/dev/shm"};
        if (const char* tmp = std::getenv("TMPDIR")) bases.push_back(tmp);
        bases.push_back("/tmp");
        for (const std::string& base : bases) {
            std::error_code error;
            if (!fs::is_directory(base, error)) continue;
            std::string pattern = base + "/vorlax-test-XXXXXX";
            if (mkdtemp(pattern.data())) {
                path_ = pattern;
                return;
            }
        }
        std::abort();
    }
    ~ScratchDir() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
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
