// Reading what a run printed: its lines, and stderr without the notes.
#pragma once

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline bool has_line(const std::string& text, const std::string& line) {
    std::vector<std::string> lines = lines_of(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Lines of text that match pattern as a whole.
inline int count_matching(const std::string& text, const std::string& pattern) {
    const std::regex wanted(pattern);
    int count = 0;
    for (const std::string& line : lines_of(text)) count += std::regex_match(line, wanted) ? 1 : 0;
    return count;
}

// stderr without the advisory notes ("vorlax: note: ..." or "vorlax-read:
// note: ..." lines: those a run opens with, and the one after a buffered run
// that ended early), so tests can check the rest.
inline std::string without_notes(const std::string& err) {
    std::string rest;
    for (size_t start = 0; start < err.size();) {
        const size_t end = std::min(err.find('\n', start), err.size() - 1) + 1;
        const std::string line = err.substr(start, end - start);
        if (line.rfind("vorlax: note: ", 0) != 0 && line.rfind("vorlax-read: note: ", 0) != 0) rest += line;
        start = end;
    }
    return rest;
}

// What the line of a write refused for want of room ends with, after the
// system's reason.
inline const std::string write_failure_advice = "; free space, or write less: fewer threads or GB";
