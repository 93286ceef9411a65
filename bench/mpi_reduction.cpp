// The once-a-second reduction of vorlax-mpi, timed alone: every rank runs
// the monitor's sample (the same code as in a run) the given number of
// times, a pause apart, and rank 0 prints the median, 90th percentile and
// largest time one sample took, in ms, over all ranks' samples, and the CPU
// time one sample cost a rank (the largest of the ranks' averages).
//     mpirun -n 4 vorlax-mpi-reduction-bench [samples] [pause-ms]
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mpi/mpi_monitor.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    const int samples = argc > 1 ? std::atoi(argv[1]) : 200;
    const uint32_t pause_ms = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 20;
    RunCounters counters;
    std::atomic<int32_t> writing_threads{1};  // a run that never ends: every sample is a full one
    MpiRun run;
    MPI_Comm_rank(MPI_COMM_WORLD, &run.rank);
    MPI_Comm_size(MPI_COMM_WORLD, &run.ranks);
    run.counters = &counters;
    run.writing_threads = &writing_threads;
    run.ended = true;  // no end notices in this measurement
    run.ends_heard = run.ranks - 1;
    MonitorSource source = mpi_monitor_source(&run, "written");
    MPI_Barrier(MPI_COMM_WORLD);
    const std::clock_t cpu_start = std::clock();
    for (int i = 0; i < samples; ++i) {
        add_block_kb(&counters.slots[0], 1024);
        source.sample(source.context);
        sleep_ms(pause_ms);
    }
    double cpu_ms = 1e3 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC / samples, max_cpu_ms = 0;
    MPI_Reduce(&cpu_ms, &max_cpu_ms, 1, MPI_DOUBLE, MPI_MAX, 0, MPI_COMM_WORLD);
    std::vector<double> all(static_cast<size_t>(samples) * static_cast<size_t>(run.ranks));
    MPI_Gather(run.reduction_s.data(), samples, MPI_DOUBLE, all.data(), samples, MPI_DOUBLE, 0, MPI_COMM_WORLD);
    if (run.rank == 0) {
        std::sort(all.begin(), all.end());
        std::printf("reduction at %d ranks, %d samples each: median %.3f ms, p90 %.3f ms, max %.3f ms; "
                    "CPU %.3f ms a sample\n",
                    run.ranks, samples, all[all.size() / 2] * 1e3, all[all.size() * 9 / 10] * 1e3, all.back() * 1e3,
                    max_cpu_ms);
    }
    MPI_Finalize();
    return 0;
}
