// What rank 0 prints for a run under MPI beside the progress lines: the
// banner, the completion lines and the summary. Pure: no MPI, no clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings.h"

// One rank's account of its run, gathered to rank 0 as plain bytes. Spans
// are on the rank's own clock, from the moment it left the start barrier.
struct RankRow {
    uint32_t rank;
    uint32_t fell_short;        // 1 when any of its writers fell short
    uint64_t total_kb;          // KB in whole blocks, all its writers
    uint64_t span_ms;           // to the end of its last writer's last block
    uint64_t kb_at_first_end;   // its total when it learnt that the first rank ended
    uint64_t barrier_us;        // how long it waited in the start barrier
    uint64_t durable_ms;        // to the end of its last flush (mode B), else 0
    uint64_t longest_flush_ms;  // its longest flush of one file
    uint64_t wall_kb;           // --seconds: its total once all its writers had stopped at the deadline
    uint64_t wall_ms;           // --seconds: when that was, from the start; 0 when the run ended before
    char host[256];             // its host's name, terminated
    char failure[192];          // why it wrote nothing, in a few words, terminated; empty when it wrote
};

// Whether the rank wrote at all: the figures are taken over those that did.
bool rank_wrote(const RankRow& row);

// The run as a whole, from every rank's row.
struct RunFigures {
    uint64_t total_kb;         // all ranks
    uint64_t kb_at_first_end;  // all ranks, as each learnt of the first end
    uint64_t first_end_ms;     // shortest span: the first rank to finish
    uint64_t last_end_ms;      // longest span: the last rank to finish
    size_t slowest;            // row with the lowest own MB/s (first of equals)
    size_t fastest;            // row with the highest own MB/s (first of equals)
    uint64_t start_uncertainty_us;  // the shortest barrier wait: the last rank to arrive
    uint64_t durable_ms;       // latest end of a flush
    uint64_t longest_flush_ms;
};

// A rank's own MB/s: its whole MB over its span; 0 for a span of 0.
uint64_t rank_mb_per_s(const RankRow& row);

// Figures over the rows of ranks that wrote (at least one).
RunFigures run_figures(const std::vector<RankRow>& rows);

// vorlax's banner with ", on R ranks of H hosts" before its line end.
std::string mpi_banner(const RunSettings& settings, uint32_t ranks, uint32_t hosts);

// How many different names hosts holds.
uint32_t count_hosts(const std::vector<std::string>& hosts);

// "rank R thread N done! K\n"
std::string mpi_completion_line(uint32_t rank, uint32_t thread_index, int64_t blocks);

// The summary lines (each ending in '\n') for rows in rank order: one per
// rank ("failed: rank R on HOST: why" for a rank that wrote nothing), then,
// over the ranks that wrote, the slowest and fastest rank, MB/s while all
// of them were writing, MB/s to completion, the tail; the start's
// uncertainty; and with buffered the time until the data was durable.
// Where no rank wrote, one line says so in place of the figures.
std::vector<std::string> summary_lines(const std::vector<RankRow>& rows, bool buffered);

// The stonewall of a run for a fixed time, with its wear-out: a plain
// record of the two figures, for the summary lines and the run record.
struct StonewallFigures {
    bool reached;            // a rank's writers were stopped at the deadline
    uint64_t wall_kb;        // all ranks' KB once each had stopped (or ended)
    uint64_t wall_ms;        // the latest of those stops, from the start
    size_t slowest;          // row with the fewest KB at the stonewall (first of equals)
    uint32_t slowest_rank;   // its rank
    size_t fastest;          // row with the most
    uint64_t behind_kb;      // how far the slowest was behind the fastest then
    uint64_t total_kb;       // every block, the wear-out's included
    uint64_t end_ms;         // to the end of the last rank's last block
    int64_t target_blocks;   // the most blocks any one thread had written at the stonewall
};

// The stonewall's figures over the rows of the ranks that wrote (at least
// one), target_blocks as the ranks agreed on it.
StonewallFigures stonewall_figures(const std::vector<RankRow>& rows, int64_t target_blocks);

// The two lines (each ending in '\n') that follow the summary of a run of
// seconds: "stonewall: MB in s, MB/s ..." with how far the slowest rank was
// behind, and "wear-out: MB in s, MB/s ..." with the blocks of every file
// (but those of writers that fell short); one line that says so when
// every rank ended before the deadline; none when no rank wrote. Where
// figures is given and a rank wrote, *figures takes the lines' figures.
std::vector<std::string> stonewall_lines(const std::vector<RankRow>& rows, uint32_t seconds, int64_t target_blocks,
                                         StonewallFigures* figures = nullptr);

// Whole MB per second as the summary prints it; 0 over a span of 0.
uint64_t mb_per_s(uint64_t kb, uint64_t span_ms);

// The line that says how to check the files: the vorlax-read command line
// that reads rank 0's, whose own prefix is rank0_prefix, and that each rank's
// prefix reads its own.
std::string read_back_line(const RunSettings& settings, const std::string& rank0_prefix);
