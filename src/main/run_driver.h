// The run driver: settings, worker threads, the monitor loop and the end.
#pragma once

#include <vector>

#include "main/program.h"
#include "monitor/run_counters.h"
#include "worker/worker.h"

// Whether settle_command_line prints the notes on replaced or partly read
// arguments (in a run of many processes, only one of them should); silent
// prints nothing at all, not even the usage, help, version or why the
// command line cannot be run: every rank of an MPI run but rank 0, which
// settles the same command line.
enum class ArgumentNotes { print, leave_out, silent };

// Reads the command line into *settings. Returns true when a run is to
// start, after printing on stderr a note for each argument that was
// replaced or read in part (unless notes is leave_out or silent); otherwise it has
// printed what the command line asked for (usage, help, version, or why it
// cannot be run) and set *exit_status: 0 for help and version, 2 for a
// wrong argument count or an over-long path prefix.
bool settle_command_line(const ProgramInfo& program, int argc, const char* const* argv, RunSettings* settings,
                         int* exit_status, ArgumentNotes notes = ArgumentNotes::print);

// Starts settings.thread_count workers of program, thread i on (*jobs)[i], a
// copy of model with its thread_index, settings and counters filled in,
// after setting counters->active_threads to their number. A thread that
// cannot be started is counted out at once and counted in failed_threads,
// with a line on stderr (headed by model.options.message_head); a writer
// hook in the model hears of it.
// Returns the started threads, to be joined.
std::vector<ThreadHandle> start_workers(const ProgramInfo& program, const RunSettings& settings,
                                        RunCounters* counters, std::vector<WorkerJob>* jobs,
                                        const WorkerJob& model = WorkerJob{0, nullptr, nullptr});

// The stderr line (ending in '\n') after a run that was stopped for reason
// with total_kb counted: the cause, the MB and verb ("written", "read"), the
// test files, which stay, and how many threads were still in a block when
// the run ended without them (stuck_threads, 0 for none). Pure.
std::string stop_line(const char* program, StopReason reason, uint64_t total_kb, const char* verb,
                      const RunSettings& settings, int32_t stuck_threads = 0);

// The exit status of a run stopped for reason: 130 (128 + SIGINT) for an
// interrupt, 143 (128 + SIGTERM) for a termination; -1 where the run's own
// outcome decides (none, deadline).
int stop_exit_status(StopReason reason);

// Runs program on this machine with the command line of main and returns
// the exit status: 0 when every worker did all its blocks (or help and
// version were asked for), 1 when any fell short, 2 for a command line that
// cannot be run or a run the program refuses before its first byte, 130 or
// 143 for a run stopped by Ctrl-C or SIGTERM. The arguments are taken as
// UTF-8 (platform_arguments).
int run_program(const ProgramInfo& program, int argc, const char* const* argv);
