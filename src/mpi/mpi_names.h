// Test file names under MPI: each rank's own path prefix.
#pragma once

#include <cstdint>
#include <string>

// The path prefix that rank hands to test_file_name: prefix with every
// "{host}" replaced by host and every "{rank}" by rank in decimal; when
// prefix has no "{rank}", "_r" and rank in at least four digits are added at
// its end ("/mnt/run" on rank 3 gives "/mnt/run_r0003", so thread 1 writes
// "/mnt/run_r0003_01.BIN"). Pure.
std::string rank_prefix(const std::string& prefix, const std::string& host, uint32_t rank);

// What rank_prefix adds "_r" and the rank to: prefix with "{host}" filled
// in; empty when prefix has a "{rank}" (the rank's prefix is then the path
// itself). Pure.
std::string rank_path_base(const std::string& prefix, const std::string& host);
