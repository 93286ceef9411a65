// Runs a program and keeps what it printed: to its end, or step by step
// while the test decides when it ends.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
    int exit_status = -1;  // the status it returned, or -1 when a signal ended it
    int signal = 0;        // the signal that ended it, or 0
    std::string out;       // everything it wrote to stdout
    std::string err;       // everything it wrote to stderr
    long peak_rss_kb = 0;  // largest resident set of it and its waited-for children
};

// Runs argv[0] with argv in folder cwd, stdin from /dev/null. To run it
// under a limit or another user, put the command that does so first in argv
// (timeout, prlimit, setpriv); it must exec the rest.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& cwd);

// A program started in a process group of its own and not yet waited for.
// Destroying it kills the group and waits, so a failed test leaves nothing
// running.
class StartedProcess {
public:
    // Starts argv as run_process does, without waiting.
    StartedProcess(const std::vector<std::string>& argv, const std::string& cwd);
    ~StartedProcess();
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;

    // Reads what the program prints until ready(what it printed so far)
    // holds, or stdout and stderr have both closed. ready is asked at least
    // every 20 ms, so it may also look at things other than the output.
    // Gives up after limit_s seconds (a guard against a hung test, not a
    // measure). Returns ready's last answer.
    bool read_until(const std::function<bool(const ProcessResult&)>& ready, int limit_s = 60);
    // Sends sig to every process of the group.
    void kill_group(int sig);
    // Reads the rest of the output, waits for the end and gives it all.
    ProcessResult finish();

    const ProcessResult& so_far() const { return result_; }

private:
    void read_available(int timeout_ms);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    ProcessResult result_;
};

// The command that starts VORLAX: the words of $VORLAX_WRAPPER (such as an
// emulator) if set, then $VORLAX_EXE or the program this build made.
std::vector<std::string> vorlax_command();

// The command that starts the companion program name (such as
// "vorlax-read") built beside VORLAX: vorlax_command() with the program's
// file name ("vorlax" or "vorlax.exe") replaced.
std::vector<std::string> companion_command(const std::string& name);
