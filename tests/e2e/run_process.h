// Runs a program to its end and keeps what it printed.
#pragma once

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

// The command that starts VORLAX: the words of $VORLAX_WRAPPER (such as an
// emulator) if set, then $VORLAX_EXE or the program this build made.
std::vector<std::string> vorlax_command();

// The command that starts the companion program name (such as
// "vorlax-read") built beside VORLAX: vorlax_command() with the program's
// file name ("vorlax" or "vorlax.exe") replaced.
std::vector<std::string> companion_command(const std::string& name);
