// End-to-end: the one-line notes on stderr for runs that would measure
// memory rather than a disk. They never change stdout or the exit status.
#include <gtest/gtest.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "../support/scratch_dir.h"
#include "output_lines.h"
#include "run_process.h"

namespace {

const std::regex out_line(R"(VORLAX: writing (un)?buffered \d+K buffers in \d+ threads up to \d+ GB each|)"
                          R"( *\d+\.\d{3}: +\d+ MB written, +\d+ MB/s sustained, +\d+ MB/S incremental|)"
                          R"(thread \d+ done! \d+|DONE!)");
const std::regex cache_note(R"(vorlax: note: the test files \((\d+) MB in all\) fit in the memory available )"
                            R"(\(\d+ MB\); these figures will show the page cache until it fills; mode U or a )"
                            R"(larger size measures the disk)");

// Runs VORLAX with args; with merged, stderr goes into the same pipe as
// stdout (so the order of the two shows) and result.err stays empty.
ProcessResult run_vorlax(const std::vector<std::string>& args, const std::string& cwd, bool merged = false) {
    std::vector<std::string> command;
    if (merged) command = {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh"};
    for (const std::string& word : vorlax_command()) command.push_back(word);
    command.insert(command.end(), args.begin(), args.end());
    return run_process(command, cwd);
}

// Every stdout line is one the program has always printed: a note never
// lands there.
void expect_plain_stdout(const std::string& out) {
    for (const std::string& line : lines_of(out)) EXPECT_TRUE(std::regex_match(line, out_line)) << line;
    EXPECT_EQ(lines_of(out).back(), "DONE!");
}

// MemAvailable from /proc/meminfo in bytes, 0 when unknown.
unsigned long long memory_available_bytes() {
    std::ifstream meminfo("/proc/meminfo");
    for (std::string key; meminfo >> key;) {
        unsigned long long kb = 0;
        meminfo >> kb;
        if (key == "MemAvailable:") return kb * 1024;
        meminfo.ignore(64, '\n');
    }
    return 0;
}

bool on_tmpfs(const std::string& folder) {
    struct statfs info;
    return statfs(folder.c_str(), &info) == 0 && info.f_type == 0x01021994;
}

TEST(Notes, UnbufferedOnAMemoryFolderSaysSoOnce) {
    ScratchDir scratch;
    if (!on_tmpfs(scratch.path())) GTEST_SKIP() << "scratch folder is not on tmpfs";
    ProcessResult result = run_vorlax({"U", scratch.file("run"), "1024"}, scratch.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err, "vorlax: note: " + scratch.path() +
                              " is memory-backed; these figures are memory speed, not a disk's\n");
    expect_plain_stdout(result.out);
}

TEST(Notes, BufferedFilesThatFitInMemorySaySoOnce) {
    if (memory_available_bytes() < (4ull << 30)) GTEST_SKIP() << "less than 4 GB of memory available";
    ScratchDir scratch;
    for (const char* name : {"sink_00.BIN", "sink_01.BIN"})
        ASSERT_EQ(symlink("/dev/null", scratch.file(name).c_str()), 0);
    ProcessResult result = run_vorlax({"B", scratch.file("sink"), "1024", "2", "1"}, scratch.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    std::vector<std::string> notes = lines_of(result.err);
    ASSERT_EQ(notes.size(), 1u) << result.err;  // and no memory-backed note in mode B
    std::smatch match;
    ASSERT_TRUE(std::regex_match(notes[0], match, cache_note)) << notes[0];
    EXPECT_EQ(match[1], "2048");
    expect_plain_stdout(result.out);
}

TEST(Notes, ComeAfterTheBannerAndBeforeTheFirstProgressLine) {
    if (memory_available_bytes() < (4ull << 30)) GTEST_SKIP() << "less than 4 GB of memory available";
    ScratchDir scratch;
    ASSERT_EQ(symlink("/dev/null", scratch.file("sink_00.BIN").c_str()), 0);
    ProcessResult result = run_vorlax({"B", scratch.file("sink"), "1024"}, scratch.path(), true);
    EXPECT_EQ(result.exit_status, 0);
    std::vector<std::string> lines = lines_of(result.out);
    ASSERT_GE(lines.size(), 4u) << result.out;
    EXPECT_EQ(lines[0], "VORLAX: writing buffered 1024K buffers in 1 threads up to 1 GB each");
    EXPECT_TRUE(std::regex_match(lines[1], cache_note)) << lines[1];
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("vorlax: note:", 0) == 0; }),
              1);
}

TEST(Notes, NoNoteWhenTheFilesCannotFitAndTheExitStatusStands) {
    ScratchDir scratch;
    // 99 files of 63 GB fit nowhere; the folder is missing, so every thread
    // fails as it always has.
    ProcessResult result = run_vorlax({"B", scratch.file("missing/run"), "32768", "99", "63"}, scratch.path());
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err.find("note:"), std::string::npos) << result.err;
    // A write that fails still fails with the note in front of it.
    ASSERT_EQ(symlink("/dev/full", scratch.file("full_00.BIN").c_str()), 0);
    result = run_vorlax({"B", scratch.file("full")}, scratch.path());
    EXPECT_EQ(result.exit_status, 1);
    std::vector<std::string> err = lines_of(result.err);
    ASSERT_EQ(err.size(), 2u) << result.err;
    EXPECT_TRUE(std::regex_match(err[0], cache_note)) << err[0];
    EXPECT_EQ(err[1], "vorlax: " + scratch.file("full_00.BIN") + ": write failed after 0 blocks: No space left on device");
}

}  // namespace
