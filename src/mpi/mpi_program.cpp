// vorlax-mpi's words: usage, help and version.
#include "mpi/mpi_program.h"

#include "version.h"
#include "writer_thread/writer_thread.h"

// The text of --help, from mpi_help.txt beside this file.
extern const char vorlax_mpi_help_text[];

namespace {

const char* const mpi_usage = "Usage: vorlax-mpi <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n";
// The fallback stays on one line with its words.
const HelpText mpi_help = {
    vorlax_mpi_help_text,
    {"block size in KB (1024 bytes)", "writer threads per rank", "size of each file in GB (2^30 bytes)"},
    {", ", "; default ", ", out~of~range~", ""}};

}  // namespace

const ProgramInfo vorlax_mpi_program = {
    "vorlax-mpi", mpi_usage, mpi_help, "vorlax-mpi (VORLAX) " VORLAX_VERSION "\n", "writing", "written", "writer",
    writer_thread, nullptr, nullptr,
};
