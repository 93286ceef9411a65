#include "mpi/mpi_names.h"

#include <cstdio>

namespace {

// prefix with every key replaced by value.
std::string replace_all(std::string text, const std::string& key, const std::string& value) {
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
}

}  // namespace

std::string rank_path_base(const std::string& prefix, const std::string& host) {
    if (prefix.find("{rank}") != std::string::npos) return std::string();
    return replace_all(prefix, "{host}", host);
}

std::string rank_prefix(const std::string& prefix, const std::string& host, uint32_t rank) {
    const bool names_rank = prefix.find("{rank}") != std::string::npos;
    std::string expanded = replace_all(replace_all(prefix, "{rank}", std::to_string(rank)), "{host}", host);
    if (!names_rank) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "_r%04u", rank);
        expanded += suffix;
    }
    return expanded;
}
