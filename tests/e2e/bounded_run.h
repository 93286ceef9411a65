// Runs of the real program that cannot hang a test: every run sits under
// timeout(1), optionally behind commands that set limits or switch user.
#pragma once

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "run_process.h"

// Text without the advisory lines that begin "vorlax: note: ": the tests
// here are about failures, which notes never are.
inline std::string without_notes(const std::string& text) {
    std::string kept;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("vorlax: note: ", 0) != 0) kept += line + "\n";
    return kept;
}

// Runs VORLAX with args in cwd, after the words of prefix (each must exec
// the rest), stopped after limit_s seconds. exe replaces the program when
// given; a run stopped by the limit ends with status 124. err keeps every
// line but notes.
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

inline std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline bool holds_line(const std::string& text, const std::string& line) {
    std::vector<std::string> lines = split_lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Lines of text that match pattern as a whole.
inline int count_matching(const std::string& text, const std::string& pattern) {
    const std::regex wanted(pattern);
    int count = 0;
    for (const std::string& line : split_lines(text)) count += std::regex_match(line, wanted) ? 1 : 0;
    return count;
}

// Two-digit thread number as in the test file names.
inline std::string two_digits(int thread) { return (thread < 10 ? "0" : "") + std::to_string(thread); }
