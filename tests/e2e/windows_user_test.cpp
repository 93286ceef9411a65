// The command line as users of both systems meet it, end to end (under Wine
// too): folder names beyond ASCII, stderr and stdout in one file, a prefix
// that names a folder, a run stopped by Ctrl-C or SIGTERM, and a run whose
// threads all fail to start.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
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
// vorlax's: end it with the system's separator (stage 50 runs the Windows
// suggestions through cmd, quoted ones too). A path ending in / writes
// inside the folder on both systems.
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
        const std::string end = target().windows ? "\\" : "/";
        EXPECT_NE(result.err.find(program + ": note: bench is a folder, and the path is a prefix: the test files go "
                                            "beside it, bench_00.BIN and on; to " +
                                  verb + " inside it, end the path with " + end + " (bench" + end + ")\n"),
                  std::string::npos)
            << result.err;
    }
    ProcessResult inside = run_vorlax({"B", "bench/", "1024", "1", "1"}, scratch.path());
    sink.stop();
    EXPECT_EQ(inside.exit_status, 0) << inside.err;
    EXPECT_EQ(sink.drained_bytes(1), one_gb);
    EXPECT_EQ(entries_of(scratch.file("bench")), std::vector<std::string>{"_00.BIN"});
}

// Ctrl-C (SIGINT) and SIGTERM stop the writers at the block in hand: the
// last progress line has the exact total and comes after every completion
// line, stderr says what was written, the files stay, and the status is
// 128 + the signal's number. The FIFOs are held, so the signal comes while
// the run is surely going on; thread 0's is released after it, the others'
// never: a write that never returns is not waited for past the grace time,
// and no line comes while the run waits for it.
TEST(Run, InterruptAndTerminateStopAtTheBlockInHand) {
    const struct {
        int sig;
        int status;
        const char* cause;
        bool release;
        int threads;
    } cases[] = {{SIGINT, 130, "Ctrl-C", true, 1},
                 {SIGTERM, 143, "SIGTERM", true, 1},
                 {SIGINT, 130, "Ctrl-C", false, 1},
                 {SIGINT, 130, "Ctrl-C", true, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cause) + (c.release ? ", released" : ", held") + ", threads " +
                     std::to_string(c.threads));
        if (target().windows && c.sig == SIGTERM) continue;  // no SIGTERM on Windows
        ScratchDir scratch;
        std::vector<std::string> files{"long_00.BIN", "long_01.BIN"};
        files.resize(static_cast<size_t>(c.threads));
        std::vector<std::unique_ptr<FifoSink>> sinks;
        for (const std::string& file : files) sinks.emplace_back(new FifoSink({scratch.file(file)}));
        StartedProcess run(vorlax_args({"B", "long", "64", std::to_string(c.threads), "63"}), scratch.path());
        ASSERT_TRUE(run.read_until(has_progress_line)) << run.so_far().out << run.so_far().err;
        run.kill_group(c.sig);
        if (c.release) sinks[0]->release();
        ProcessResult result = with_lf(run.finish());
        uintmax_t held_kb = 0;
        for (size_t i = c.release ? 1 : 0; i < sinks.size(); ++i)
            held_kb += sinks[i]->waiting_bytes(0) / 65536u * 64;
        for (auto& sink : sinks) sink->stop();
        EXPECT_EQ(result.exit_status, c.status) << result.out << result.err;
        const long long last_mb = check_run_output(result.out);
        std::smatch done;
        const bool completed = std::regex_search(result.out, done, std::regex("thread 0 done! (\\d+)"));
        std::string tail = "\n";
        if (c.release) {
            ASSERT_TRUE(completed) << result.out;
            const long long blocks = std::stoll(done[1]);
            EXPECT_LT(blocks, 63ll << 14);
            EXPECT_EQ(last_mb, static_cast<long long>((blocks * 64 + held_kb) / 1024)) << result.out;
            EXPECT_EQ(sinks[0]->drained_bytes(0), static_cast<uintmax_t>(blocks) * 65536u);
            // From the first completion line on: completions, one last line, DONE!.
            EXPECT_TRUE(std::regex_search(
                result.out, std::regex("\n(thread \\d+ done! \\d+\n)+[^\n]* MB written,[^\n]*\nDONE!\n$")))
                << result.out;
        } else {
            // The thread never came back from its write: no completion line,
            // the total what the FIFO took in whole blocks.
            EXPECT_FALSE(completed) << result.out;
            EXPECT_EQ(last_mb, static_cast<long long>(held_kb / 1024)) << result.out;
        }
        const int stuck = c.threads - (c.release ? 1 : 0);
        if (stuck > 0) tail = "; 1 thread was still in a block after 3 s, not waited for\n";
        EXPECT_EQ(without_notes(result.err),
                  "vorlax: run stopped by " + std::string(c.cause) + ": " + std::to_string(last_mb) +
                      " MB written; the test files stay as written: " +
                      (c.threads == 1 ? files[0] : files[0] + " to " + files[1]) + tail);
    }
}

// Sixteen threads of 4 KB blocks stop together at --seconds 1 and print
// their completion lines at once, as the first progress line falls due: on
// a terminal (a pty from script; under Wine, a console) each line still
// comes whole, not split by another thread's.
TEST(Run, ManyThreadsPrintWholeLinesOnATerminal) {
    if (std::system("script -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) to give the run a terminal";
    ScratchDir scratch;
    std::vector<std::string> files;
    for (int i = 0; i < 16; ++i)
        files.push_back(scratch.file((i < 10 ? "run_0" : "run_") + std::to_string(i) + ".BIN"));
    FifoSink sink(files);
    sink.release();
    // A wide terminal: Wine's console breaks a line at its width, and a note
    // (the page cache's, where memory holds 16 GB) would come in pieces.
    std::string command = "stty cols 1000 2>/dev/null; exec";
    for (const std::string& word : vorlax_args({"--seconds", "1", "B", "run", "4", "16", "1"}))
        command += " '" + word + "'";
    ProcessResult result = run_process({"script", "-qec", command, "/dev/null"}, scratch.path());
    sink.stop();
    // The terminal's CR LF, the escape sequences of Wine's console (which
    // may draw a space as a step right), and the notes (stderr shares the
    // terminal).
    const std::string out = std::regex_replace(
        std::regex_replace(result.out, std::regex("\x1b\\[1C"), " "),
        std::regex("\r|\x1b\\[[0-9;?]*[A-Za-z]|vorlax: note: [^\n]*\n"), "");
    EXPECT_EQ(result.exit_status, 0) << out;
    check_run_output(out);
    EXPECT_EQ(count_matching(out, "thread \\d+ done! \\d+"), 16) << out;
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
