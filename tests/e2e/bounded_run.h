// Runs of the real program that cannot hang a test: every run sits under
// timeout(1), optionally behind commands that set limits or switch user.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "output_lines.h"
#include "run_process.h"

// The command that runs VORLAX with args after the words of prefix (each
// must exec the rest), stopped after limit_s seconds with status 124. exe
// replaces the program when given.
inline std::vector<std::string> bounded_command(const std::vector<std::string>& prefix,
                                                const std::vector<std::string>& args, int limit_s = 60,
                                                const std::string& exe = "") {
    std::vector<std::string> command = {"timeout", "-k", "5", std::to_string(limit_s)};
    command.insert(command.end(), prefix.begin(), prefix.end());
    std::vector<std::string> vorlax = vorlax_command();
    if (!exe.empty()) vorlax.back() = exe;
    command.insert(command.end(), vorlax.begin(), vorlax.end());
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

// Runs bounded_command(prefix, args, limit_s, exe) in cwd; err leaves out
// the opening notes.
inline ProcessResult run_bounded(const std::vector<std::string>& prefix, const std::vector<std::string>& args,
                                 const std::string& cwd, int limit_s = 60, const std::string& exe = "") {
    ProcessResult result = run_process(bounded_command(prefix, args, limit_s, exe), cwd);
    result.err = without_notes(result.err);
    return result;
}

// Two-digit thread number as in the test file names.
inline std::string two_digits(int thread) { return (thread < 10 ? "0" : "") + std::to_string(thread); }

// The words that run the rest as a user of the test's own, one the system
// does not list: its id comes from this process's, so tests running at the
// same time, in this suite or another, never share a user's process limit.
inline std::vector<std::string> as_own_user() {
    const std::string id = std::to_string(200000 + getpid());
    return {"setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups"};
}

// The words that run the rest without the leak checker of an
// AddressSanitizer build: it needs a thread of its own at exit, which a test
// that takes threads away may not leave it.
inline std::vector<std::string> without_leak_check() {
    const char* options = std::getenv("ASAN_OPTIONS");
    return {"env", std::string("ASAN_OPTIONS=") + (options ? options : "") + ":detect_leaks=0"};
}
