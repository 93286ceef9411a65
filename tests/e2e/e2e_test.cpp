// End-to-end tests: the real program, run in a scratch folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "../support/scratch_dir.h"
#include "fifo_sink.h"
#include "output_lines.h"
#include "run_process.h"
#include "vorlax_run.h"
#include "version.h"

namespace {

namespace fs = std::filesystem;


TEST(CommandLine, UsageHelpAndVersion) {
    ScratchDir scratch;
    const std::string version = "vorlax (VORLAX) " VORLAX_VERSION "\n";
    const std::string six = "vorlax: 6 arguments, at most 5: quote a path that has spaces\n";
    // The help as users of each system ask for it.
    const std::string unknown = std::string("vorlax: unknown option \"-x\": the mode, B or U, comes first; vorlax ") +
                                (target().windows ? "/?" : "--help") + " shows the usage\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    std::vector<Case> cases = {
        {{}, 2, usage, ""},
        {{"U", "p", "64", "1", "1", "extra"}, 2, usage, six},
        {{"--version"}, 0, version, ""},
        {{"-v"}, 0, version, ""},
        {{"/V"}, 0, version, ""},
        {{"-V"}, 0, version, ""},
        {{"-x"}, 2, usage, unknown},
        {{"-x", "U", "p"}, 2, usage, unknown},
    };
    for (const auto& c : cases) {
        ProcessResult result = run_vorlax(c.args, scratch.path());
        EXPECT_EQ(result.exit_status, c.status) << c.args.size() << " args";
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
    }
    // Help: the usage line first (scripts look for it), the same text for
    // every way of asking, in lines that fit a terminal.
    std::vector<std::string> asks = {"-h", "--help", "/?", "-?", "/h", "/help", "-help"};
    std::string help;
    for (const std::string& ask : asks) {
        ProcessResult result = run_vorlax({ask}, scratch.path());
        EXPECT_EQ(result.exit_status, 0) << ask;
        EXPECT_EQ(result.err, "") << ask;
        if (help.empty()) help = result.out;
        EXPECT_EQ(result.out, help) << ask;
    }
    EXPECT_EQ(help.rfind(usage, 0), 0u) << help;
    // Each system's own paths, commands and documentation.
    const bool windows = target().windows;
    for (const char* part : {"max-buf-KB", "1 to 32768", "default 64", "out of range 4", "2^20 bytes",
                             windows ? "d\\run_00.BIN" : "d/run_00.BIN", "stay on disk", "Exit status:", "\n  2  ",
                             windows ? "del E:\\bench\\run_??.BIN" : "rm /mnt/ssd/run_??.BIN",
                             windows ? "docs\\windows.md in the .zip\n" : "man vorlax\n"})
        EXPECT_NE(help.find(part), std::string::npos) << part;
    for (const char* other : {windows ? "/mnt" : "E:\\", windows ? "man vorlax" : ".zip"})
        EXPECT_EQ(help.find(other), std::string::npos) << other;
    for (const std::string& line : lines_of(help)) EXPECT_LE(line.size(), 79u) << line;
    EXPECT_TRUE(fs::is_empty(scratch.path())) << "no file may be created";
}

TEST(CommandLine, OverLongPrefixIsRejectedBeforeTheBanner) {
    ScratchDir scratch;
    ProcessResult result = run_vorlax({"B", scratch.file(std::string(5000, 'p'))}, scratch.path());
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("vorlax: path prefix too long"), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
    EXPECT_TRUE(fs::is_empty(scratch.path()));
}

// Banner values, and what a missing folder does: every thread fails to
// create its file, says so on stderr, prints no completion line.
TEST(Run, BannerValuesAndMissingFolder) {
    ScratchDir scratch;
    const std::string prefix = scratch.file("missing/run");
    const struct {
        std::vector<std::string> numbers;
        const char* mode;
        const char* banner;
        int threads;
    } cases[] = {
        {{}, "U", "VORLAX: writing unbuffered 64K buffers in 1 threads up to 1 GB each", 1},
        {{"1024", "3", "2"}, "b", "VORLAX: writing buffered 1024K buffers in 3 threads up to 2 GB each", 3},
        {{"0", "100", "0"}, "x", "VORLAX: writing unbuffered 64K buffers in 1 threads up to 4 GB each", 1},
        {{"32768", "99", "63"}, "Bx", "VORLAX: writing buffered 32768K buffers in 99 threads up to 63 GB each", 99},
        {{"12abc", "2", "word"}, "U", "VORLAX: writing unbuffered 12K buffers in 2 threads up to 1 GB each", 2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {c.mode, prefix};
        args.insert(args.end(), c.numbers.begin(), c.numbers.end());
        ProcessResult result = run_vorlax(args, scratch.path());
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(lines_of(result.out).front(), c.banner);
        check_run_output(result.out);
        EXPECT_EQ(result.out.find("done!"), std::string::npos) << result.out;
        EXPECT_EQ(lines_of(without_notes(result.err)).size(), static_cast<size_t>(c.threads)) << result.err;
        EXPECT_NE(result.err.find("vorlax: " + prefix + "_00.BIN: cannot create: " + target().no_such_folder +
                                  "; the folder " + scratch.file("missing") + " does not exist: create it, or give "
                                  "a path in a folder that exists (the path is a prefix: " + prefix + " gives " +
                                  prefix + "_00.BIN)\n"),
                  std::string::npos)
            << result.err;
    }
}

// The run a new user starts first: one thread, 64 KB blocks, 1 GB, unbuffered.
TEST(Run, DefaultRunLeavesTheSpecifiedFile) {
    ScratchDir scratch(ScratchUse::unbuffered);
    if (scratch.path().empty()) GTEST_SKIP() << scratch.unbuffered_note();
    ProcessResult result = run_vorlax({"U"}, scratch.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(without_notes(result.err), "");
    EXPECT_EQ(lines_of(result.out).front(), "VORLAX: writing unbuffered 64K buffers in 1 threads up to 1 GB each");
    EXPECT_TRUE(has_line(result.out, "thread 0 done! 16384")) << result.out;
    // The last progress line carries the final total.
    EXPECT_EQ(check_run_output(result.out), 1024) << result.out;

    const std::string file = scratch.file("_00.BIN");
    ASSERT_EQ(fs::file_size(file), one_gb);
    std::string data = read_whole_file(file);
    EXPECT_EQ(first_bad_block(data, 64 * 1024), -1);
    EXPECT_EQ(data.back(), '\xff');
}

TEST(Run, ThreadsInAFolderOverwriteAndCutOldFiles) {
    ScratchDir scratch;
    fs::create_directory(scratch.file("sub"));
    const std::string prefix = scratch.file("sub/run");
    // A larger file left from an earlier run: overwritten from its start.
    fs::resize_file((std::ofstream(prefix + "_01.BIN"), prefix + "_01.BIN"), 2 * one_gb);

    ProcessResult result = run_vorlax({"B", prefix, "1024", "3", "1"}, scratch.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(check_run_output(result.out), 3072) << result.out;
    for (int thread = 0; thread < 3; ++thread) {
        EXPECT_TRUE(has_line(result.out, "thread " + std::to_string(thread) + " done! 1024")) << result.out;
        std::string file = prefix + "_0" + std::to_string(thread) + ".BIN";
        ASSERT_EQ(fs::file_size(file), one_gb) << file;
        EXPECT_EQ(first_bad_block(read_whole_file(file), 1024 * 1024), -1) << file;
    }
}

// Two threads into FIFOs that the test holds until the first progress line
// is out, so the run shows a line while writing and one with the total.
TEST(Run, FastSinkWithTwoThreads) {
    ScratchDir scratch;
    FifoSink sink({scratch.file("sink_00.BIN"), scratch.file("sink_01.BIN")});
    StartedProcess run(vorlax_args({"B", scratch.file("sink"), "64", "2", "1"}), scratch.path());
    ASSERT_TRUE(run.read_until(has_progress_line)) << run.so_far().out << run.so_far().err;
    sink.release();
    ProcessResult result = with_lf(run.finish());
    sink.stop();
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(without_notes(result.err), "");
    EXPECT_EQ(check_run_output(result.out), 2048) << result.out;
    EXPECT_TRUE(has_line(result.out, "thread 0 done! 16384"));
    EXPECT_TRUE(has_line(result.out, "thread 1 done! 16384"));
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(sink.drained_bytes(i), one_gb) << "FIFO " << i;
}

// Every line is flushed when printed: lines reach a pipe while the run goes
// on, and a run killed then keeps them. The FIFO is never read, so the run
// lasts until the test kills it.
TEST(Run, KilledRunKeepsItsPrintedLines) {
    ScratchDir scratch;
    FifoSink sink({scratch.file("long_00.BIN")});
    StartedProcess run(vorlax_args({"B", "long", "4", "1", "63"}), scratch.path());
    ASSERT_TRUE(run.read_until(has_progress_line)) << run.so_far().out << run.so_far().err;
    run.kill_group(SIGKILL);
    ProcessResult result = with_lf(run.finish());
    EXPECT_EQ(result.signal, SIGKILL) << result.out;
    std::vector<std::string> lines = lines_of(result.out);
    ASSERT_GE(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines[0], "VORLAX: writing buffered 4K buffers in 1 threads up to 63 GB each");
    EXPECT_TRUE(std::regex_match(lines[1], progress_line)) << lines[1];
    EXPECT_EQ(result.out.find("DONE!"), std::string::npos) << result.out;
}

TEST(Run, DiskFullReportsTheWholeBlocksAndFails) {
    ScratchDir scratch;
    ASSERT_EQ(symlink("/dev/full", scratch.file("_00.BIN").c_str()), 0);
    ProcessResult result = run_vorlax({"B", scratch.path() + "/"}, scratch.path());
    EXPECT_EQ(result.exit_status, 1);
    check_run_output(result.out);
    EXPECT_TRUE(has_line(result.out, "thread 0 done! 0")) << result.out;
    EXPECT_EQ(without_notes(result.err), "vorlax: " + scratch.file("_00.BIN") +
                                              ": write failed after 0 blocks: " + target().disk_full +
                                              write_failure_advice + "\n");
}

}  // namespace
