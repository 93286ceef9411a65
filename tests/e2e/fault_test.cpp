// Faults met by the real program: full disks, file size limits, missing or
// forbidden folders, no memory, no threads, a closed or broken stdout. Each
// must end the run with a line on stderr naming the file and the reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "../support/scratch_dir.h"
#include "bounded_run.h"
#include "fifo_sink.h"

namespace {

namespace fs = std::filesystem;

// The first and last lines every run prints.
void expect_framed(const ProcessResult& result) {
    std::vector<std::string> lines = lines_of(result.out);
    ASSERT_GE(lines.size(), 2u) << result.out << result.err;
    EXPECT_EQ(lines.front().rfind("VORLAX: writing ", 0), 0u) << lines.front();
    EXPECT_EQ(lines.back(), "DONE!");
}

// The names of the test files of threads 0 to count - 1 with prefix.
std::vector<std::string> test_files(const std::string& prefix, int count) {
    std::vector<std::string> files;
    for (int thread = 0; thread < count; ++thread) files.push_back(prefix + "_" + two_digits(thread) + ".BIN");
    return files;
}

// Runs bounded_command(prefix, args, 60, exe) into held FIFOs, one per
// file; once each thread has either begun to write or been named on stderr,
// lets the run finish. No thread can end, and give back what it holds,
// before all have met the fault.
ProcessResult run_held_until_settled(const std::vector<std::string>& prefix, const std::vector<std::string>& args,
                                     const std::string& cwd, const std::vector<std::string>& files,
                                     const std::string& exe = "") {
    FifoSink sink(files);
    StartedProcess run(bounded_command(prefix, args, 60, exe), cwd);
    const bool settled = run.read_until([&](const ProcessResult& so_far) {
        for (size_t i = 0; i < files.size(); ++i)
            if (sink.waiting_bytes(i) == 0 && so_far.err.find(files[i] + ": ") == std::string::npos) return false;
        return true;
    });
    EXPECT_TRUE(settled) << "some thread neither wrote nor failed\n" << run.so_far().out << run.so_far().err;
    sink.release();
    ProcessResult result = run.finish();
    result.err = without_notes(result.err);
    return result;
}

// Two threads: thread 0 meets the fault, thread 1 writes into a sink unless
// the fault takes its file too.
TEST(Faults, FileFaultsNameTheFileAndTheReason) {
    const struct {
        const char* label;
        const char* folder;  // where the prefix points, under the scratch folder
        std::function<void(const std::string& file_00)> make_fault;
        const char* completion;  // thread 0's completion line, or "" for none
        const char* reason;
    } cases[] = {
        {"disk full", "", [](const std::string& f) { fs::create_symlink("/dev/full", f); }, "thread 0 done! 0",
         ": write failed after 0 blocks: No space left on device; free space, or write less: fewer threads or GB"},
        {"folder in the way", "", [](const std::string& f) { fs::create_directory(f); }, "",
         ": is a folder, not a test file; remove it or give another path prefix"},
        {"missing folder", "missing/", [](const std::string&) {}, "",
         ": cannot create: No such file or directory; the folder .* does not exist: create it, .*"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchDir scratch;
        const std::string prefix = scratch.file(std::string(c.folder) + "p");
        c.make_fault(prefix + "_00.BIN");
        if (fs::is_directory(scratch.file(c.folder))) fs::create_symlink("/dev/null", prefix + "_01.BIN");

        ProcessResult result = run_bounded({}, {"B", prefix, "64", "2", "1"}, scratch.path());
        EXPECT_EQ(result.exit_status, 1) << result.err;
        expect_framed(result);
        EXPECT_EQ(count_matching(result.err, "vorlax: " + prefix + "_00\\.BIN" + c.reason), 1) << result.err;
        EXPECT_EQ(has_line(result.out, c.completion), *c.completion != '\0') << result.out;
        if (fs::is_directory(scratch.file(c.folder))) {
            EXPECT_TRUE(has_line(result.out, "thread 1 done! 16384")) << result.out;
            EXPECT_EQ(lines_of(result.err).size(), 1u) << result.err;
        } else {
            EXPECT_EQ(count_matching(result.err, "vorlax: " + prefix + "_01\\.BIN" + c.reason), 1) << result.err;
        }
    }
}

// A file size limit cuts a write short part way (or fails it at a block
// boundary): the whole blocks hold their pattern, the rest is what the
// system wrote.
TEST(Faults, FileSizeLimitKeepsEveryCountedBlock) {
    constexpr size_t block_bytes = 64 * 1024;
    const struct {
        size_t limit_bytes;
        const char* reason;
    } cases[] = {
        {10 * block_bytes + 1000,
         ": write cut short after 10 blocks (1000 of 65536 bytes written); the disk may be full or a file size "
         "limit reached; free space, or write less: fewer threads or GB"},
        {10 * block_bytes, ": write failed after 10 blocks: File too large; free space, or write less: fewer threads or GB"},
    };
    for (const auto& c : cases) {
        ScratchDir scratch;
        const std::string prefix = scratch.file("p");
        ProcessResult result = run_bounded({"prlimit", "--fsize=" + std::to_string(c.limit_bytes)},
                                           {"B", prefix, "64", "1", "1"}, scratch.path());
        EXPECT_EQ(result.exit_status, 1) << result.err;
        expect_framed(result);
        EXPECT_TRUE(has_line(result.out, "thread 0 done! 10")) << result.out;
        EXPECT_EQ(result.err, "vorlax: " + prefix + "_00.BIN" + c.reason + "\n");
        std::string data = read_whole_file(prefix + "_00.BIN");
        ASSERT_EQ(data.size(), c.limit_bytes);
        EXPECT_EQ(first_bad_block(data, block_bytes), -1);
        EXPECT_EQ(data.substr(10 * block_bytes), std::string(c.limit_bytes - 10 * block_bytes, '\x0a'));
    }
}

// CI runs as root, which may write anywhere: the program runs as a user of
// its own from a copy it can execute, against a folder only root may write to.
TEST(Faults, PermissionDenied) {
    ScratchDir scratch;
    const std::string locked = scratch.file("locked");
    fs::create_directory(locked);
    std::vector<std::string> as_other_user;
    std::string exe;
    if (geteuid() == 0) {
        exe = scratch.file("vorlax");
        fs::copy_file(vorlax_command().back(), exe);
        chmod(exe.c_str(), 0755);
        chmod(scratch.path().c_str(), 0755);
        as_other_user = as_own_user();
    } else {
        chmod(locked.c_str(), 0555);
    }
    ProcessResult result = run_bounded(as_other_user, {"B", locked + "/p", "64", "1", "1"}, scratch.path(), 60, exe);
    EXPECT_EQ(result.exit_status, 1) << result.err;
    expect_framed(result);
    EXPECT_EQ(result.out.find("done!"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "vorlax: " + locked + "/p_00.BIN: cannot create: Permission denied; check that this user "
                          "may write in " + locked + "\n");
    EXPECT_TRUE(fs::is_empty(locked));
}

#ifndef VORLAX_SANITIZED  // sanitizers reserve terabytes of address space
// An address space too small for any 32 MB buffer: the file is created
// empty and the thread says why.
TEST(Faults, NoMemoryForTheBufferLeavesAnEmptyFile) {
    ScratchDir scratch;
    const std::string prefix = scratch.file("p");
    ProcessResult result = run_bounded({"prlimit", "--as=" + std::to_string(24 << 20)},
                                       {"B", prefix, "32768", "1", "1"}, scratch.path());
    EXPECT_EQ(result.exit_status, 1) << result.err;
    expect_framed(result);
    EXPECT_EQ(result.out.find("done!"), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "vorlax: " + prefix +
                              "_00.BIN: cannot get a 32768 KB write buffer: Cannot allocate memory; use a smaller "
                              "block size or fewer threads\n");
    ASSERT_TRUE(fs::exists(prefix + "_00.BIN"));
    EXPECT_EQ(fs::file_size(prefix + "_00.BIN"), 0u);
}

// Room for a few buffers among eight threads: some threads go without and
// say so, the others complete; every thread ends one way or the other. The
// threads that got a buffer keep it until all have tried.
// The room must not hang on the order the threads run in. Left to itself,
// the C library reserves 64 MB of address space for a thread's own heap at
// its first allocation, and a thread that does so early leaves no room for
// any buffer; one heap for all, and 2 MB stacks, leave 100 MB room for two
// 32 MB buffers whichever threads get there first.
TEST(Faults, NoMemoryForSomeBuffers) {
    ScratchDir scratch;
    const std::string prefix = scratch.file("p");
    constexpr int threads = 8;
    const std::vector<std::string> files = test_files(prefix, threads);
    ProcessResult result = run_held_until_settled({"env", "MALLOC_ARENA_MAX=1", "prlimit",
                                                   "--stack=" + std::to_string(2 << 20),
                                                   "--as=" + std::to_string(100 << 20)},
                                                  {"B", prefix, "32768", std::to_string(threads), "1"},
                                                  scratch.path(), files);
    EXPECT_EQ(result.exit_status, 1) << result.err;
    expect_framed(result);
    int completed = 0, without_buffer = 0;
    for (int thread = 0; thread < threads; ++thread) {
        const std::string& file = files[thread];
        bool done = has_line(result.out, "thread " + std::to_string(thread) + " done! 32");
        bool no_buffer = count_matching(result.err, "vorlax: " + file + ": cannot get a 32768 KB write buffer: "
                                                    "Cannot allocate memory; .*") == 1;
        // Stacks take address space too, so a thread may also fail to start.
        bool not_started = count_matching(result.err, "vorlax: " + file + ": cannot start writer thread .*") == 1;
        EXPECT_EQ(done + no_buffer + not_started, 1) << "thread " << thread << "\n" << result.out << result.err;
        completed += done;
        without_buffer += no_buffer;
    }
    EXPECT_GE(completed, 1) << result.out;
    EXPECT_GE(without_buffer, 1) << result.err;
}
#endif

// A low process limit for a user who runs the program: threads past it
// cannot start; they are counted out and the run ends. The user is one of
// the test's own, so no other process counts against the limit, and the
// threads that started hold on until all have been tried.
TEST(Faults, ThreadsThatCannotStartDoNotHoldUpTheEnd) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
    ScratchDir scratch;
    chmod(scratch.path().c_str(), 0755);
    const std::string exe = scratch.file("vorlax");
    fs::copy_file(vorlax_command().back(), exe);
    const std::string prefix = scratch.file("p");
    constexpr int threads = 8;
    std::vector<std::string> limits = as_own_user();
    limits.insert(limits.end(), {"prlimit", "--nproc=3"});
    for (const std::string& word : without_leak_check()) limits.push_back(word);
    ProcessResult result = run_held_until_settled(limits, {"B", prefix, "64", std::to_string(threads), "1"},
                                                  scratch.path(), test_files(prefix, threads), exe);
    EXPECT_EQ(result.exit_status, 1) << result.err;
    expect_framed(result);
    int unstarted = count_matching(result.err, "vorlax: " + prefix +
                                                   "_0\\d.BIN: cannot start writer thread \\d: Resource "
                                                   "temporarily unavailable; use fewer threads");
    int completed = count_matching(result.out, "thread \\d done! 16384");
    EXPECT_GE(unstarted, 1) << result.err;
    EXPECT_EQ(unstarted + completed, threads) << result.out << result.err;
}

// With stdout closed the first file the program opens must not take its
// number: the file holds its blocks and not a line more.
TEST(Faults, ClosedStdoutLeavesTheFilesClean) {
    ScratchDir scratch;
    const std::string prefix = scratch.file("p");
    ProcessResult result = run_bounded({"sh", "-c", "exec \"$0\" \"$@\" >&-"}, {"B", prefix, "1024", "1", "1"},
                                       scratch.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    // Any line that went into the file would show in its length.
    EXPECT_EQ(fs::file_size(prefix + "_00.BIN"), 1u << 30);
}

// A reader that goes away after the first line: the program ends by the
// broken pipe's signal at its next line, and never hangs. The FIFOs are
// never read, so the run cannot finish first.
TEST(Faults, BrokenPipeEndsTheRun) {
    ScratchDir scratch;
    const std::string prefix = scratch.file("p");
    FifoSink sink(test_files(prefix, 4));
    ProcessResult result =
        run_bounded({"bash", "-c", "\"$0\" \"$@\" | head -1; echo \"ended with ${PIPESTATUS[0]}\" >&2"},
                    {"B", prefix, "64", "4", "1"}, scratch.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "VORLAX: writing buffered 64K buffers in 4 threads up to 1 GB each\n");
    // 141: ended by SIGPIPE (128 + 13).
    EXPECT_EQ(count_matching(result.err, "ended with 141"), 1) << result.err;
}

// Odd numbers on the real command line, into a missing folder so that no
// file is written: the banner shows what was made of them.
TEST(Faults, OddNumbersOnTheCommandLine) {
    ScratchDir scratch;
    const std::string prefix = scratch.file("missing/p");
    const struct {
        std::vector<std::string> args;
        const char* banner;
    } cases[] = {
        {{"\xff\xfe", prefix, "4294967297", "-0", "2147483648"},
         "VORLAX: writing unbuffered 1K buffers in 1 threads up to 4 GB each"},
        {{"", prefix, "", " \t ", "+"}, "VORLAX: writing unbuffered 64K buffers in 1 threads up to 1 GB each"},
        {{"b\xc3", prefix, std::string(100000, '7'), "-4294967295", "12345678901234567890"},
         "VORLAX: writing buffered 64K buffers in 1 threads up to 4 GB each"},
        {{"B", prefix, "256k", "2x", "\xc3\xa9"}, "VORLAX: writing buffered 256K buffers in 2 threads up to 1 GB each"},
    };
    for (const auto& c : cases) {
        ProcessResult result = run_bounded({}, c.args, scratch.path());
        EXPECT_EQ(result.exit_status, 1) << result.err;
        EXPECT_EQ(lines_of(result.out).front(), c.banner);
        EXPECT_EQ(lines_of(result.out).back(), "DONE!");
        EXPECT_EQ(count_matching(result.err,
                                 "vorlax: " + prefix + "_0\\d.BIN: cannot create: No such file or directory; .*"),
                  static_cast<int>(lines_of(result.err).size()));
    }
    EXPECT_TRUE(fs::is_empty(scratch.path()));
}

}  // namespace
