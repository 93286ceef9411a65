#include "mpi/mpi_record.h"

#include <cstdio>
#include <cstring>

#include "main/run_record.h"

namespace {

// One worker as it travels to rank 0.
struct ThreadWire {
    char result[24];
    int64_t blocks;
    char reason[456];
};

}  // namespace

MpiRunTimes gather_rank_records(const RunCounters& counters, const RunSettings& settings, uint64_t origin_ns,
                                int rank, int ranks, const std::vector<std::string>& hosts) {
    MpiRunTimes out;
    if (!times_blocks(settings)) return out;  // every rank has the same command line
    const uint32_t threads = settings.thread_count;
    std::vector<ThreadWire> mine(threads), all(rank == 0 ? threads * static_cast<size_t>(ranks) : 0);
    const std::vector<ThreadRecord> own_threads = thread_records(counters, threads, settings.buffer_kb);
    for (uint32_t i = 0; i < threads; ++i) {
        std::snprintf(mine[i].result, sizeof mine[i].result, "%s", own_threads[i].result.c_str());
        mine[i].blocks = own_threads[i].blocks;
        std::snprintf(mine[i].reason, sizeof mine[i].reason, "%s", own_threads[i].reason.c_str());
    }
    const int wire_bytes = static_cast<int>(threads * sizeof(ThreadWire));
    MPI_Gather(mine.data(), wire_bytes, MPI_BYTE, all.data(), wire_bytes, MPI_BYTE, 0, MPI_COMM_WORLD);
    // Each rank's times merged, then gathered and merged on rank 0: the
    // stall lists are no MPI operation, so the reduction is done by hand.
    std::unique_ptr<BlockTimes> own(new BlockTimes);
    merge_block_times(counters, threads, settings.buffer_kb, origin_ns, static_cast<uint32_t>(rank), own.get());
    std::unique_ptr<BlockTimes[]> every(new BlockTimes[rank == 0 ? ranks : 0]);
    MPI_Gather(own.get(), sizeof(BlockTimes), MPI_BYTE, every.get(), sizeof(BlockTimes), MPI_BYTE, 0,
               MPI_COMM_WORLD);
    if (rank == 0) {
        out.merged.reset(new BlockTimes);
        block_times_reset(out.merged.get(), own->stall_ns);
        for (int r = 0; r < ranks; ++r) block_times_merge(out.merged.get(), every[r]);
    }
    for (int r = 0; rank == 0 && r < ranks; ++r) {
        RankRecord record{static_cast<uint32_t>(r), hosts[r], 0, {}};
        for (uint32_t i = 0; i < threads; ++i) {
            const ThreadWire& wire = all[static_cast<size_t>(r) * threads + i];
            const uint64_t mb = static_cast<uint64_t>(wire.blocks) * settings.buffer_kb / 1024u;
            record.threads.push_back(ThreadRecord{i, wire.result, wire.blocks, mb, wire.reason});
            record.mb += mb;
        }
        out.ranks.push_back(record);
    }
    return out;
}

bool refuse_record_path_on_every_rank(const RunSettings& settings, const char* program, int rank) {
    if (!settings.json_path) return false;  // every rank has the same command line
    int refused = rank == 0 && refuse_record_path(settings, program);
    MPI_Bcast(&refused, 1, MPI_INT, 0, MPI_COMM_WORLD);
    return refused != 0;
}

StonewallRecord stonewall_record(const StonewallFigures& figures, uint32_t seconds) {
    StonewallRecord wall;
    wall.seconds = seconds;
    wall.reached = figures.reached;
    wall.wall_mb = figures.wall_kb >> 10;
    wall.wall_ms = figures.wall_ms;
    wall.wall_mb_s = mb_per_s(figures.wall_kb, figures.wall_ms);
    wall.slowest_rank = figures.slowest_rank;
    wall.behind_mb = figures.behind_kb >> 10;
    wall.total_mb = figures.total_kb >> 10;
    wall.end_ms = figures.end_ms;
    wall.mb_s = mb_per_s(figures.total_kb, figures.end_ms);
    wall.target_blocks = figures.target_blocks;
    return wall;
}
