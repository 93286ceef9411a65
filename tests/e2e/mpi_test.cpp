// vorlax-mpi end to end: the real program under mpiexec on this machine,
// with 1 to 3 ranks writing into scratch folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "../support/scratch_dir.h"
#include "memory_cgroup.h"
#include "output_lines.h"
#include "run_process.h"
#include "version.h"

namespace {

namespace fs = std::filesystem;
constexpr uintmax_t one_gb = 1ull << 30;

// command (which runs mpiexec) as root may, stopped after limit_s.
ProcessResult run_mpi_command(const std::vector<std::string>& command, int limit_s = 120) {
    // OpenMPI refuses root without these; the tests run as root in containers.
    setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
    setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
    std::vector<std::string> bounded = {"timeout", "-k", "5", std::to_string(limit_s)};
    bounded.insert(bounded.end(), command.begin(), command.end());
    return run_process(bounded, "/");
}

// vorlax-mpi under mpiexec with ranks processes, stopped after limit_s,
// with the NAME=VALUE words of environment added to mpiexec's.
ProcessResult run_mpi(int ranks, const std::vector<std::string>& args, int limit_s = 240,
                      const std::vector<std::string>& environment = {}) {
    std::vector<std::string> command = {"env"};
    command.insert(command.end(), environment.begin(), environment.end());
    for (const std::string& word : {std::string(MPIEXEC), std::string("--oversubscribe"), std::string("-n"),
                                    std::to_string(ranks), std::string(VORLAX_MPI_EXE)})
        command.push_back(word);
    command.insert(command.end(), args.begin(), args.end());
    return run_mpi_command(command, limit_s);
}

std::string rank_file(const std::string& prefix, int rank, int thread) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_r%04d_%02d.BIN", rank, thread);
    return prefix + suffix;
}

// The MB figure of the last progress line, or -1 without one.
long long last_progress_mb(const std::string& out) {
    const std::regex progress(R"( *\d+\.\d{3}: +(\d+) MB written, +\d+ MB/s sustained, +\d+ MB/S incremental)");
    long long mb = -1;
    std::smatch match;
    for (const std::string& line : lines_of(out))
        if (std::regex_match(line, match, progress)) mb = std::stoll(match[1]);
    return mb;
}

// A whole test file of 1 GB in blocks of block_kb, each with its pattern.
void expect_whole_file(const std::string& name, size_t block_kb) {
    std::error_code error;
    ASSERT_EQ(fs::file_size(name, error), one_gb) << name;
    EXPECT_EQ(first_bad_block(read_whole_file(name), block_kb * 1024), -1) << name;
}

TEST(MpiRun, VersionInTheFamilysShape) {
    ProcessResult result = run_mpi(1, {"--version"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "vorlax-mpi (VORLAX) " VORLAX_VERSION "\n");
}

TEST(MpiRun, EveryRankWritesItsFilesAndRankZeroSumsThemUp) {
    const struct {
        int ranks;
        const char* mode;
        int threads;
    } cases[] = {{1, "B", 2}, {3, "B", 1}, {2, "U", 2}};  // U last: it may be skipped
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.ranks) + " ranks, mode " + c.mode);
        ScratchDir scratch(c.mode[0] == 'U' ? ScratchUse::unbuffered : ScratchUse::any);
        if (scratch.path().empty()) GTEST_SKIP() << scratch.unbuffered_note();
        const std::string prefix = scratch.file("run");
        ProcessResult result = run_mpi(c.ranks, {c.mode, prefix, "32768", std::to_string(c.threads), "1"});
        ASSERT_EQ(result.exit_status, 0) << result.out << result.err;

        const std::vector<std::string> lines = lines_of(result.out);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], std::string("VORLAX: writing ") + (c.mode[0] == 'B' ? "buffered" : "unbuffered") +
                                " 32768K buffers in " + std::to_string(c.threads) + " threads up to 1 GB each, on " +
                                std::to_string(c.ranks) + " ranks of 1 hosts");
        EXPECT_EQ(last_progress_mb(result.out), c.ranks * c.threads * 1024LL);
        EXPECT_EQ(lines.back(), "DONE!");
        EXPECT_EQ(count_matching(result.out, R"(rank \d+ thread \d+ done! \d+)"), c.ranks * c.threads);
        for (int rank = 0; rank < c.ranks; ++rank) {
            const std::string name = "rank " + std::to_string(rank);
            for (int thread = 0; thread < c.threads; ++thread) {
                EXPECT_TRUE(has_line(result.out, name + " thread " + std::to_string(thread) + " done! 32"));
                expect_whole_file(rank_file(prefix, rank, thread), 32768);
            }
            EXPECT_EQ(count_matching(result.out, name + " on .+: " + std::to_string(1024 * c.threads) +
                                                     R"( MB written in \d+\.\d{3} s, \d+ MB/s)"), 1);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()),
                  c.ranks * c.threads);
        const std::string total = std::to_string(c.ranks * c.threads * 1024);
        for (const std::string& line :
             {std::string(R"((slowest|fastest): rank \d+ on .+, \d+ MB/s)"),
              std::string(R"(MB/s while all ranks were writing: \d+ \(\d+ MB in [0-9.]+ s, until the first rank finished\))"),
              R"(MB/s to completion: \d+ \()" + total + R"( MB in [0-9.]+ s, until the last rank finished\))",
              std::string(R"(tail: [0-9.]+ s between the first and the last rank to finish)")})
            EXPECT_EQ(count_matching(result.out, line), line[0] == '(' ? 2 : 1) << line;
        EXPECT_EQ(count_matching(result.out, "durable: every file flushed .*"), c.mode[0] == 'B' ? 1 : 0);
        EXPECT_EQ(result.out.find("fell short"), std::string::npos);
    }
}

TEST(MpiRun, ARankWithoutItsFolderIsNamedAndLeftOutOfTheFigures) {
    ScratchDir scratch;
    fs::create_directory(scratch.file("d0"));
    fs::create_directory(scratch.file("d2"));
    ProcessResult result = run_mpi(3, {"B", scratch.file("d{rank}/run"), "32768", "1", "1"});
    EXPECT_EQ(result.exit_status, 1) << result.out << result.err;
    EXPECT_EQ(count_matching(result.err, R"(vorlax-mpi: rank 1 \(.+\): .*/d1/run_00\.BIN: cannot create: )"
                                         R"(No such file or directory.*)"),
              1)
        << result.err;
    EXPECT_EQ(count_matching(result.out, R"(failed: rank 1 on .+: cannot create its test file: )"
                                         R"(No such file or directory)"),
              1)
        << result.out;
    EXPECT_EQ(count_matching(result.out, R"(rank [02] on .+: 1024 MB written in \d+\.\d{3} s, \d+ MB/s)"), 2);
    EXPECT_EQ(count_matching(result.out, R"((slowest|fastest): rank [02] on .+, [1-9]\d* MB/s)"), 2) << result.out;
    EXPECT_EQ(count_matching(result.out, "rank 1 on .*"), 0) << result.out;
    // The window of all ranks closes when the first rank that wrote is done:
    // by then that rank alone had written its 1024 MB.
    const std::regex window(R"(MB/s while all ranks were writing: \d+ \((\d+) MB in (\d+)\.(\d{3}) s, .*)");
    std::smatch match;
    const std::vector<std::string> lines = lines_of(result.out);
    const auto line = std::find_if(lines.begin(), lines.end(),
                                   [&](const std::string& l) { return std::regex_match(l, match, window); });
    ASSERT_NE(line, lines.end()) << result.out;
    EXPECT_GE(std::stoll(match[1]), 1024) << *line;
    EXPECT_NE(match.str(2) + match.str(3), "0000") << *line;
    EXPECT_EQ(count_matching(result.out, R"(rank \d+ thread 0 done! \d+)"), 2);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "check the files with vorlax-read and each rank's prefix: vorlax-read B " +
                                           scratch.file("d0/run") + " 32768 1 1 reads rank 0's");
    EXPECT_EQ(lines.back(), "DONE!");
    expect_whole_file(scratch.file("d0/run_00.BIN"), 32768);
    expect_whole_file(scratch.file("d2/run_00.BIN"), 32768);
}

// A path naming a folder gets vorlax's note once (the files go beside it);
// a missing one, where no rank wrote a block, no line to check the files.
TEST(MpiRun, AFolderPathIsNotedAndNoCheckLineWhereNothingWasWritten) {
    ScratchDir scratch;
    const std::string folder = scratch.file("dir");
    fs::create_directory(folder);
    for (int rank = 0; rank < 2; ++rank) fs::create_symlink("/dev/null", rank_file(folder, rank, 0));
    const struct {
        std::string path;
        int exit_status, folder_notes, check_lines;
    } cases[] = {
        {folder, 0, 1, 1},
        {scratch.file("missing/run"), 1, 0, 0},
    };
    for (const auto& c : cases) {
        ProcessResult result = run_mpi(2, {"B", c.path, "1024", "1", "1"});
        EXPECT_EQ(result.exit_status, c.exit_status) << result.out << result.err;
        EXPECT_EQ(count_matching(result.err, "vorlax-mpi: note: " + folder + " is a folder, and the path is a "
                                             "prefix: the test files go beside it, " + rank_file(folder, 0, 0) +
                                             " and on; .* end the path with / \\(" + folder + R"(/\) \(ranks 0-1 on .+\))"),
                  c.folder_notes)
            << result.err;
        EXPECT_EQ(count_matching(result.out, "check the files with vorlax-read .*"), c.check_lines) << result.out;
    }
}

TEST(MpiRun, RankZeroPrintsEveryRanksNotesOnceWithTheRanksTheyHoldFor) {
    // Both ranks write into /dev/null from the scratch folder, and mpiexec
    // keeps its session folder there too: on the file system under test,
    // in memory (no disk slows the session folder: no note) and on a disk.
    for (ScratchUse use : {ScratchUse::any, ScratchUse::disk}) {
        ScratchDir scratch(use);
        if (scratch.path().empty()) continue;  // no disk folder here: the memory case stands alone
        const bool in_memory = scratch.path().rfind("/dev/shm/", 0) == 0;
        SCOPED_TRACE(scratch.path());
        const std::string session = scratch.file("session");
        fs::create_directory(session);
        // Open MPI 4 takes the session folder from this variable and hands it
        // on to its ranks; a launcher that does not cannot be pointed there.
        const std::string variable = "OMPI_MCA_orte_top_session_dir=" + session;
        const ProcessResult probe = run_process({"env", "OMPI_ALLOW_RUN_AS_ROOT=1",
                                                 "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1", variable, MPIEXEC, "-n", "1",
                                                 "env"},
                                                "/");
        if (count_matching(probe.out, "(OMPI_MCA_orte_top_session_dir|PMIX_SERVER_TMPDIR)=" + session + ".*") == 0)
            GTEST_SKIP() << MPIEXEC << " does not put its session folder where " << variable << " says";
        for (int rank = 0; rank < 2; ++rank) fs::create_symlink("/dev/null", rank_file(scratch.file("run"), rank, 0));
        ProcessResult result = run_mpi(2, {"B", scratch.file("run"), "1024", "1", "1"}, 240, {variable});
        ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
        EXPECT_EQ(count_matching(result.err, "vorlax-mpi: note: mpirun keeps its session folder " + session +
                                                 " on the file system of the test files \\(" + scratch.path() +
                                                 R"(\); .*TMPDIR=/dev/shm.*orte_tmpdir_base /dev/shm \(ranks 0-1 on .+\))"),
                  in_memory ? 0 : 1)
            << result.err;
        if (in_memory) {
            EXPECT_EQ(count_matching(result.err, "vorlax-mpi: note: " + scratch.path() +
                                                     R"( is memory-backed; .* \(ranks 0-1 on .+\))"),
                      1)
                << result.err;
        }
        EXPECT_EQ(count_matching(result.err, "vorlax-mpi: note: .*"),
                  count_matching(result.err, ".*\\(ranks 0-1 on .+\\)"))
            << "every note holds for both ranks and is printed once: " << result.err;
    }
}

TEST(MpiRun, APrefixTooLongIsRefusedNamingTheRank) {
    // Short folder names, so that only the whole path passes the limit.
    std::string deep = "/nonexistent";
    while (deep.size() < 4100) deep += "/abcdefg";
    const struct {
        std::string prefix;
        const char* why;
    } cases[] = {
        {deep, "too long as typed"},
        {deep.substr(0, 4096 - sizeof "_00.BIN"), "too long once _r0000 is added"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ProcessResult result = run_mpi(2, {"B", c.prefix, "64", "1", "1"}, 120);
        EXPECT_EQ(result.exit_status, 2) << result.out << result.err;
        EXPECT_EQ(count_matching(result.err, "vorlax-mpi: path prefix too long on rank 0: the test file names would "
                                             "pass the system's limit of 4095 characters; use a shorter path"),
                  1)
            << result.err;
        EXPECT_EQ(result.out, "");
    }
}

// The ranks of one host share its memory: two ranks of 1 GB each on a ramfs
// in a cgroup of 1.5 GB are refused together, before the first byte, though
// either alone would fit.
TEST(MpiRun, RanksOfAHostAreCountedTogetherAgainstItsMemory) {
    MemoryCgroup cgroup("1536M");
    if (cgroup.path().empty()) GTEST_SKIP() << cgroup.why();
    const std::string mnt = cgroup.mount_folder();
    std::vector<std::string> command = cgroup.confined("-t ramfs ramfs");
    for (const char* word : {MPIEXEC, "--oversubscribe", "-n", "2", VORLAX_MPI_EXE, "B"}) command.push_back(word);
    for (const std::string& word : {mnt + "/m", std::string("1024"), std::string("1"), std::string("1")})
        command.push_back(word);
    const ProcessResult result = run_mpi_command(command);
    EXPECT_EQ(result.exit_status, 2) << "signal " << result.signal << "\n" << result.out << result.err;
    EXPECT_EQ(count_matching(result.err, "vorlax-mpi: .*:" + mnt +
                                             " is memory-backed: this run would put 2048 MB there \\(2 files of 2 "
                                             "ranks on this host\\), more than the .*; use a folder on a disk"),
              1)
        << result.err;
    EXPECT_EQ(result.out, "");
}

// The process, other than this one, that holds path open; 0 when none does.
pid_t holder_of(const std::string& path) {
    std::error_code error;
    for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos || std::stoi(pid) == getpid()) continue;
        for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", error))
            if (fs::read_symlink(fd.path(), error) == path) return std::stoi(pid);
    }
    return 0;
}

TEST(MpiRun, ARankKilledMidRunEndsTheJob) {
    // Rank 0 writes into /dev/null and is soon done; rank 1 writes into a FIFO
    // that nobody drains, so it stays in its first blocks until it is killed.
    ScratchDir scratch;
    fs::create_directory(scratch.file("d0"));
    fs::create_directory(scratch.file("d1"));
    fs::create_symlink("/dev/null", scratch.file("d0/run_00.BIN"));
    const std::string fifo = scratch.file("d1/run_00.BIN");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Close-on-exec: the launched processes must not hold it too, or the
    // one found holding it might not be rank 1.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    ProcessResult result;
    std::thread job([&] { result = run_mpi(2, {"B", scratch.file("d{rank}/run"), "1024", "1", "1"}, 120); });
    // Data in the FIFO: rank 1 is past the start and writing.
    pollfd wanted = {reader, POLLIN, 0};
    bool writing = false;
    for (int waited_s = 0; !writing && waited_s < 100; ++waited_s) writing = poll(&wanted, 1, 1000) == 1;
    const pid_t rank_1 = writing ? holder_of(fifo) : 0;
    if (rank_1 > 0) kill(rank_1, SIGKILL);
    job.join();
    close(reader);
    ASSERT_TRUE(writing) << "rank 1 never wrote: " << result.out << result.err;
    ASSERT_GT(rank_1, 0);
    EXPECT_NE(result.exit_status, 0) << result.out << result.err;
    EXPECT_NE(result.exit_status, 124) << "the job did not end after its rank was killed";
}

}  // namespace
