// Running VORLAX end to end on the system it was built for: the command,
// its output with LF line ends, and the shape of a run's stdout. Shared by
// the end-to-end suites that run under Wine too.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "output_lines.h"
#include "run_process.h"

inline const std::string usage = "Usage: VORLAX <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n";
inline constexpr uintmax_t one_gb = 1ull << 30;

// What differs with the system the program was built for. The same cases
// drive the Linux program and, with VORLAX_TARGET_SYSTEM=windows, the
// Windows one under Wine: only the system's error texts and its help switch
// differ, and Windows ends its lines with CR LF. (Wine's texts are shorter
// than those of Windows itself.)
struct TargetSystem {
    bool windows;
    const char* no_such_folder;  // the system's reason for a missing folder
    const char* disk_full;       // ... and for a full disk
};

inline const TargetSystem& target() {
    static const TargetSystem linux_system{false, "No such file or directory", "No space left on device"};
    static const TargetSystem windows_system{true, "Path not found", "Disk full"};
    const char* name = std::getenv("VORLAX_TARGET_SYSTEM");
    return name && std::string(name) == "windows" ? windows_system : linux_system;
}

// Checks that every line of text ends in CR LF and gives the text with LF
// line ends.
inline std::string from_crlf(const std::string& text, const char* stream) {
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            ADD_FAILURE() << stream << " has a line without CR LF: " << text;
            return text;
        }
        lf += text[i];
    }
    return lf;
}

// The command that runs the program with args, behind the words of launcher
// if any.
inline std::vector<std::string> vorlax_args(const std::vector<std::string>& args, std::vector<std::string> launcher = {}) {
    std::vector<std::string> command = std::move(launcher);
    for (const std::string& word : vorlax_command()) command.push_back(word);
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

// What a run printed, with LF line ends whatever the system.
inline ProcessResult with_lf(ProcessResult result) {
    if (target().windows) {
        result.out = from_crlf(result.out, "stdout");
        result.err = from_crlf(result.err, "stderr");
    }
    return result;
}

// Runs the program with args in cwd, behind the words of launcher if any.
inline ProcessResult run_vorlax(const std::vector<std::string>& args, const std::string& cwd,
                         std::vector<std::string> launcher = {}) {
    return with_lf(run_process(vorlax_args(args, std::move(launcher)), cwd));
}

inline const std::regex banner_line(R"(VORLAX: writing (un)?buffered \d+K buffers in \d+ threads up to \d+ GB each)");
inline const std::regex progress_line(R"( *\d+\.\d{3}: +(\d+) MB written, +\d+ MB/s sustained, +\d+ MB/S incremental)");
inline const std::regex completion_line(R"(thread \d+ done! \d+)");

// Whether out, as printed so far, holds a whole progress line.
inline bool has_progress_line(const ProcessResult& so_far) {
    for (std::string line : lines_of(so_far.out)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (std::regex_match(line, progress_line)) return true;
    }
    return false;
}

// Checks the shape of a run's stdout: the banner first, "DONE!" last, and
// whole banner, progress and completion lines in between. Returns the MB
// figure of the last progress line, or -1 when there was none.
inline long long check_run_output(const std::string& out) {
    EXPECT_TRUE(!out.empty() && out.back() == '\n') << out;
    std::vector<std::string> lines = lines_of(out);
    EXPECT_GE(lines.size(), 2u) << out;
    if (lines.size() < 2) return -1;
    EXPECT_TRUE(std::regex_match(lines.front(), banner_line)) << lines.front();
    EXPECT_EQ(lines.back(), "DONE!");
    long long last_mb = -1;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        std::smatch match;
        if (std::regex_match(lines[i], match, progress_line))
            last_mb = std::stoll(match[1]);
        else
            EXPECT_TRUE(std::regex_match(lines[i], completion_line)) << "stray line: '" << lines[i] << "'";
    }
    return last_mb;
}
