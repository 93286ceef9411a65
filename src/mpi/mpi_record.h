// --latency and --json across ranks: every rank's block times and worker
// records gathered onto rank 0, which prints the latency lines and writes
// the record.
#pragma once

#include <mpi.h>

#include <memory>
#include <string>
#include <vector>

#include "monitor/run_counters.h"
#include "mpi/mpi_summary.h"
#include "record/record.h"
#include "settings/settings.h"

// What rank 0 holds after gather_rank_records: the merged times and one
// record per rank. Empty on the other ranks.
struct MpiRunTimes {
    std::unique_ptr<BlockTimes> merged;  // null when the run did not time its blocks
    std::vector<RankRecord> ranks;
};

// When settings time blocks (--latency, --json): gathers onto rank 0 every
// rank's workers (result, blocks, reason) and its merged block times
// (start times relative to its own origin_ns). Every rank joins; nothing
// is sent otherwise.
MpiRunTimes gather_rank_records(const RunCounters& counters, const RunSettings& settings, uint64_t origin_ns,
                                int rank, int ranks, const std::vector<std::string>& hosts);

// With --json, rank 0 checks before the first byte that it can write the
// record (refuse_record_path, which says why on stderr) and every rank
// learns the verdict. Returns true when the run is refused. Every rank
// calls it with the same settings.
bool refuse_record_path_on_every_rank(const RunSettings& settings, const char* program, int rank);

// The record's stonewall object from the figures of the summary's two
// lines, in their units and truncation, for a run of seconds. Pure.
StonewallRecord stonewall_record(const StonewallFigures& figures, uint32_t seconds);
