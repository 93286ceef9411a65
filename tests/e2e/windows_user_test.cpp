// The command line as users of both systems meet it, end to end (under Wine
// too): folder names beyond ASCII, stderr and stdout in one file, a prefix
// that names a folder, a run stopped by Ctrl-C or SIGTERM, and a run whose
// threads all fail to start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../support/scratch_dir.h"
#include "fifo_sink.h"
#include "vorlax_run.h"

namespace {

namespace fs = std::filesystem;

// The names in folder, sorted.
std::vector<std::string> entries_of(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Japanese, Greek and Polish folder names reach the file system and stderr
// byte for byte: thread 0 writes its FIFO by its exact name, thread 1 finds
// a folder in its way and names it.
TEST(Run, FolderNamesBeyondAsciiReachTheFilesAndTheLines) {
    ScratchDir scratch;
    for (const std::string folder : {"日本語", "δοκιμή", "Łódź"}) {
        SCOPED_TRACE(folder);
        fs::create_directory(scratch.file(folder));
        const std::string prefix = scratch.file(folder) + "/run";
        fs::create_directory(prefix + "_01.BIN");
        FifoSink sink({prefix + "_00.BIN"});
        sink.release();
        ProcessResult result = run_vorlax({"B", prefix, "1024", "2", "1"}, scratch.path());
        sink.stop();
        EXPECT_EQ(result.exit_status, 1) << result.err;
        EXPECT_EQ(sink.drained_bytes(0), one_gb);
        EXPECT_EQ(entries_of(scratch.file(folder)), (std::vector<std::string>{"run_00.BIN", "run_01.BIN"}));
        EXPECT_EQ(without_notes(result.err),
                  "vorlax: " + prefix + "_01.BIN: is a folder, not a test file; remove it or give another path prefix\n");
    }
}

// With stdout and stderr in one file, each stderr line lands where it was
// printed: the notes and the threads' failures before "DONE!". No progress line
// either: every thread failed to start, however late the system told it.
TEST(Run, StderrLinesComeInOrderWithStdoutInOneFile) {
    ScratchDir scratch;
    ProcessResult result =
        run_vorlax({"x", "missing/p", "64", "3", "1"}, scratch.path(), {"sh", "-c", "exec \"$@\" >log 2>&1", "sh"});
    EXPECT_EQ(result.exit_status, 1);
    std::ifstream in(scratch.file("log"), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> lines = lines_of(text.str());
    for (std::string& line : lines)
        if (!line.empty() && line.back() == '\r') line.pop_back();
    ASSERT_EQ(lines.size(), 6u) << text.str();
    EXPECT_EQ(lines[0].rfind("vorlax: note: mode \"x\" is neither B nor U", 0), 0u) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], banner_line)) << lines[1];
    for (size_t i = 2; i < 5; ++i) EXPECT_NE(lines[i].find(": cannot create: "), std::string::npos) << lines[i];
    EXPECT_EQ(lines[5], "DONE!");
}

// A prefix that names a folder: the files go beside it, as they always did,
// and a note says so and how to name files inside it, vorlax-read's as
// vorlax's. The note's own suggestion works: a path ending in / (which
// Windows takes too, and which a closing quote does not escape as \ does)
// writes inside the folder.
TEST(Run, PrefixThatNamesAFolderGetsANote) {
    ScratchDir scratch;
    fs::create_directory(scratch.file("bench"));
    FifoSink sink({scratch.file("bench_00.BIN"), scratch.file("bench/_00.BIN")});
    sink.release();
    for (const std::string program : {"vorlax", "vorlax-read"}) {
        SCOPED_TRACE(program);
        std::vector<std::string> command = program == "vorlax" ? vorlax_command() : companion_command(program);
        command.insert(command.end(), {"B", "bench", "1024", "1", "1"});
        ProcessResult result = with_lf(run_process(command, scratch.path()));
        const std::string verb = program == "vorlax" ? "write" : "read";
        EXPECT_NE(result.err.find(program + ": note: bench is a folder, and the path is a prefix: the test files go "
                                            "beside it, bench_00.BIN and on; to " +
                                  verb + " inside it, end the path with / (bench/)\n"),
                  std::string::npos)
            << result.err;
    }
    ProcessResult inside = run_vorlax({"B", "bench/", "1024", "1", "1"}, scratch.path());
    sink.stop();
    EXPECT_EQ(inside.exit_status, 0) << inside.err;
    EXPECT_EQ(sink.drained_bytes(1), one_gb);
    EXPECT_EQ(entries_of(scratch.file("bench")), std::vector<std::string>{"_00.BIN"});
}

// Ctrl-C (SIGINT) and SIGTERM stop the writer at the block in hand: the last
// progress line has the exact total, stderr says what was written, the file
// stays, and the status is 128 + the signal's number. The FIFO is held, so
// the signal comes while the run is surely going on; released after it, or
// never: a write that never returns is not waited for past the grace time.
TEST(Run, InterruptAndTerminateStopAtTheBlockInHand) {
    const struct {
        int sig;
        int status;
        const char* cause;
        bool release;
    } cases[] = {{SIGINT, 130, "Ctrl-C", true}, {SIGTERM, 143, "SIGTERM", true}, {SIGINT, 130, "Ctrl-C", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cause) + (c.release ? ", released" : ", held"));
        if (target().windows && c.sig == SIGTERM) continue;  // no SIGTERM on Windows
        ScratchDir scratch;
        FifoSink sink({scratch.file("long_00.BIN")});
        StartedProcess run(vorlax_args({"B", "long", "64", "1", "63"}), scratch.path());
        ASSERT_TRUE(run.read_until(has_progress_line)) << run.so_far().out << run.so_far().err;
        run.kill_group(c.sig);
        if (c.release) sink.release();
        ProcessResult result = with_lf(run.finish());
        const uintmax_t held_bytes = sink.waiting_bytes(0);
        sink.stop();
        EXPECT_EQ(result.exit_status, c.status) << result.out << result.err;
        const long long last_mb = check_run_output(result.out);
        std::smatch done;
        const bool completed = std::regex_search(result.out, done, std::regex("thread 0 done! (\\d+)"));
        std::string tail = "\n";
        if (c.release) {
            ASSERT_TRUE(completed) << result.out;
            const long long blocks = std::stoll(done[1]);
            EXPECT_LT(blocks, 63ll << 14);
            EXPECT_EQ(last_mb, blocks * 64 / 1024) << result.out;
            EXPECT_EQ(sink.drained_bytes(0), static_cast<uintmax_t>(blocks) * 65536u);
        } else {
            // The thread never came back from its write: no completion line,
            // the total what the FIFO took in whole blocks.
            EXPECT_FALSE(completed) << result.out;
            EXPECT_EQ(last_mb, static_cast<long long>(held_bytes / 65536u * 64 / 1024)) << result.out;
            tail = "; 1 thread was still in a block after 3 s, not waited for\n";
        }
        EXPECT_EQ(without_notes(result.err), "vorlax: run stopped by " + std::string(c.cause) + ": " +
                                                 std::to_string(last_mb) +
                                                 " MB written; the test files stay as written: long_00.BIN" + tail);
    }
}

// A signal while the only thread is still in its open() (a FIFO nobody
// reads) ends the run as one stuck in a write: after the grace time, with
// the stop line and DONE!, not only at a second signal.
TEST(Run, StopWhileAThreadIsStillOpeningItsFile) {
    if (target().windows) GTEST_SKIP() << "a FIFO nobody reads holds open() on Linux only";
    const struct {
        int sig;
        int status;
        const char* cause;
    } cases[] = {{SIGINT, 130, "Ctrl-C"}, {SIGTERM, 143, "SIGTERM"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cause);
        ScratchDir scratch;
        ASSERT_EQ(mkfifo(scratch.file("f_00.BIN").c_str(), 0666), 0);
        StartedProcess run(vorlax_args({"B", "f", "64", "1", "1"}), scratch.path());
        // The banner is out once the signals are watched.
        ASSERT_TRUE(run.read_until([](const ProcessResult& so_far) { return !so_far.out.empty(); }));
        run.kill_group(c.sig);
        ASSERT_TRUE(run.read_until([](const ProcessResult& so_far) {
            return so_far.out.find("DONE!") != std::string::npos;
        }, 30)) << run.so_far().out << run.so_far().err;
        ProcessResult result = with_lf(run.finish());
        EXPECT_EQ(result.exit_status, c.status) << result.out << result.err;
        EXPECT_EQ(without_notes(result.err), "vorlax: run stopped by " + std::string(c.cause) +
                                                 ": 0 MB written; the test files stay as written: f_00.BIN; "
                                                 "1 thread was still in a block after 3 s, not waited for\n");
    }
}

// A drive letter that names no drive is said to be so, not a folder to
// check the rights of (Windows only: Linux has no drive letters).
TEST(Run, MissingDriveIsNamed) {
    if (!target().windows) GTEST_SKIP() << "drive letters are Windows's";
    ScratchDir scratch;
    ProcessResult result = run_vorlax({"B", "Q:\\x", "64", "1", "1"}, scratch.path());
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(without_notes(result.err).rfind("vorlax: Q:\\x_00.BIN: cannot create: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("; drive Q: does not exist: give a path on a drive that exists\n"), std::string::npos)
        << result.err;
}

}  // namespace
