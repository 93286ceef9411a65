// vorlax-mpi's words: usage, help and version.
#include "mpi/mpi_program.h"

#include "version.h"
#include "writer_thread/writer_thread.h"


namespace {

const char* const mpi_usage = "Usage: vorlax-mpi <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n";

const char* const number_descriptions[3] = {"block size in KB (1024 bytes)", "writer threads per rank",
                                            "size of each file in GB (2^30 bytes)"};
// The fallback stays on one line with its words.
const RangeWording number_wording = {", ", "; default ", ", out~of~range~", ""};

const std::string mpi_help =
    "Run it under MPI: mpirun -n RANKS [--hostfile FILE] vorlax-mpi ... (or srun).\n"
    "Every rank (process) runs max-threads writer threads, each of which creates\n"
    "its own test file and fills it block by block; all writers of all ranks\n"
    "start together, and rank 0 prints the MB/s of all ranks together once a\n"
    "second, then a per-rank summary.\n"
    "\n"
    "  B|U          write mode: a first letter b or B is buffered (through the\n"
    "               page cache, each file flushed after its last block),\n"
    "               anything else unbuffered (O_DIRECT)\n"
    "  path         prefix of the test file names (default ./): rank R's thread N\n"
    "               writes <path>_rRRRR_NN.BIN, R in at least 4 digits, N in 2;\n"
    "               {host} and {rank} in path become the rank's host name and\n"
    "               number, and with {rank} the _rRRRR part is left out\n"
    + format_number_rows(number_descriptions, number_wording) +
    "Numbers are read like C's %d (256k is 256); a text without digits keeps\n"
    "the default. The test files stay on disk.\n"
    "\n"
    "Example, 4 hosts with 2 ranks each, 1 MB blocks, 2 threads, 4 GB a file:\n"
    "  mpirun -n 8 --hostfile hosts vorlax-mpi U /shared/vx/run 1024 2 4\n"
    "\n"
    "Output (rank 0, stdout): vorlax's banner with the ranks and hosts; one\n"
    "progress line a second over all ranks; 'rank R thread N done! K' for each\n"
    "writer; then per rank its host, MB, span, MB/s and whether it fell short\n"
    "('failed: rank R on HOST: why' for a rank that wrote nothing); over the\n"
    "ranks that wrote, the slowest and the fastest rank, MB/s while all ranks\n"
    "were writing (to the first rank's end), MB/s to completion (to the last\n"
    "rank's end) and the tail between them; the start's uncertainty; in mode B\n"
    "the time until every file was flushed; the vorlax-read command line that\n"
    "checks rank 0's files; DONE!. Notes on stderr (rank 0, once for all ranks)\n"
    "say when the figures would show memory, a compressor or the page cache,\n"
    "or when mpirun's session folder shares the disk under test.\n"
    "\n"
    "Exit status: 0 every writer of every rank wrote all its blocks (also for\n"
    "--help and --version); 1 a writer on some rank fell short (its rank says\n"
    "why on stderr); 2 the command line cannot be run on some rank.\n"
    "\n"
    "  -h, --help   this text\n"
    "  --version    the version\n"
    "More: man vorlax-mpi\n";

}  // namespace

const ProgramInfo vorlax_mpi_program = {
    "vorlax-mpi", mpi_usage, mpi_help.c_str(), "vorlax-mpi (VORLAX) " VORLAX_VERSION "\n", "writing", "written", "writer",
    writer_thread, nullptr,
};
