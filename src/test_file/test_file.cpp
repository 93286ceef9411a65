#include "test_file/test_file.h"

#include <cstdio>
#include <cstring>

bool test_file_name(const char* path_prefix, uint32_t thread_index, size_t max_bytes, std::string* name) {
    char suffix[24];
    int suffix_length = std::snprintf(suffix, sizeof suffix, "_%02u.BIN", thread_index);
    size_t prefix_length = std::strlen(path_prefix);
    if (prefix_length + static_cast<size_t>(suffix_length) + 1 > max_bytes) return false;
    name->assign(path_prefix, prefix_length);
    name->append(suffix, static_cast<size_t>(suffix_length));
    return true;
}

std::string prefix_of(const std::string& name) {
    return name.size() > test_file_suffix_chars ? name.substr(0, name.size() - test_file_suffix_chars)
                                                : std::string();
}

std::string prefix_folder(const char* path_prefix) {
    const std::string prefix = path_prefix ? path_prefix : "";
    const size_t last = prefix.find_last_of("/\\");
    if (last == std::string::npos) return ".";
    if (last == 0) return prefix.substr(0, 1);
    // "C:\run": the root of drive C, not the drive's current folder.
    if (last == 2 && prefix[1] == ':') return prefix.substr(0, 3);
    return prefix.substr(0, last);
}

int64_t test_file_block_count(uint32_t max_gb, uint32_t buffer_kb) {
    if (buffer_kb == 0) return 0;
    int64_t file_kb = static_cast<int64_t>(max_gb) << 20;
    return file_kb / static_cast<int64_t>(buffer_kb);
}
