// The two lines --latency prints after the last progress line.
#pragma once

#include <cstdint>
#include <string>

#include "latency/latency.h"

// A time in ms with three significant digits, as VORLAX's figures go:
// "0.613", "9.81", "31.2", and whole ms from 1000 ("1503"). Pure.
std::string format_ms(uint64_t ns);

// "latency per block: median 9.81 ms, 99 % 10.9 ms, 99.9 % 31.2 ms, max
// 1503 ms (thread 0, block 300, at 3.0 s)\n", or "latency per block: no
// block timed\n"; with_rank puts "rank R, " before the thread. Start times
// must be rebased to the run's start. Pure.
std::string format_latency_line(const BlockTimes& times, bool with_rank);

// "stalls of 100 ms or more: 1, 1.50 s in all; the longest 1503 ms at 3.0 s
// (thread 0)\n", or "no stalls of 100 ms or more\n". Pure.
std::string format_stall_line(const BlockTimes& times, bool with_rank);
