// Runs of the real program that cannot hang a test: every run sits under
// timeout(1), optionally behind commands that set limits or switch user.
#pragma once

#include <string>
#include <vector>

#include "output_lines.h"
#include "run_process.h"

// Runs VORLAX with args in cwd, after the words of prefix (each must exec
// the rest), stopped after limit_s seconds. exe replaces the program when
// given; a run stopped by the limit ends with status 124. err leaves out the
// opening notes.
inline ProcessResult run_bounded(const std::vector<std::string>& prefix, const std::vector<std::string>& args,
                                 const std::string& cwd, int limit_s = 60, const std::string& exe = "") {
    std::vector<std::string> command = {"timeout", "-k", "5", std::to_string(limit_s)};
    command.insert(command.end(), prefix.begin(), prefix.end());
    std::vector<std::string> vorlax = vorlax_command();
    if (!exe.empty()) vorlax.back() = exe;
    command.insert(command.end(), vorlax.begin(), vorlax.end());
    command.insert(command.end(), args.begin(), args.end());
    ProcessResult result = run_process(command, cwd);
    result.err = without_notes(result.err);
    return result;
}

// Two-digit thread number as in the test file names.
inline std::string two_digits(int thread) { return (thread < 10 ? "0" : "") + std::to_string(thread); }
