// vorlax-mpi's pure parts: each rank's path prefix and the lines rank 0
// prints beside the progress lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "mpi/mpi_names.h"
#include "mpi/mpi_notes.h"
#include "mpi/mpi_summary.h"
#include "platform/platform.h"
#include "../support/scratch_dir.h"

namespace {

TEST(MpiNames, RankPrefix) {
    const struct {
        const char* prefix;
        uint32_t rank;
        const char* expected;
        const char* base;  // what the _r part is added to
    } cases[] = {
        {"/mnt/run", 3, "/mnt/run_r0003", "/mnt/run"},
        {"/local/{host}/run", 7, "/local/node-a/run_r0007", "/local/node-a/run"},
        {"/scratch/{rank}/run", 1, "/scratch/1/run", ""},              // {rank}: no _r part
        {"/x/{host}-{rank}/{rank}", 10, "/x/node-a-10/10", ""},        // every occurrence
        {"/x/{Host}/run", 2, "/x/{Host}/run_r0002", "/x/{Host}/run"},  // only the exact words
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rank_prefix(c.prefix, "node-a", c.rank), c.expected) << c.prefix;
        EXPECT_EQ(rank_path_base(c.prefix, "node-a"), c.base) << c.prefix;
    }
}

RankRow row(uint32_t rank, const char* host, uint64_t mb, uint64_t span_ms, uint64_t mb_at_first_end,
            bool fell_short = false) {
    RankRow r{};
    r.rank = rank;
    r.fell_short = fell_short;
    r.total_kb = mb << 10;
    r.span_ms = span_ms;
    r.kb_at_first_end = mb_at_first_end << 10;
    r.barrier_us = 1500 + rank * 1000;
    r.durable_ms = span_ms + 250;
    r.longest_flush_ms = 250 - rank;
    std::strcpy(r.host, host);
    return r;
}

TEST(MpiSummary, LinesForThreeRanks) {
    const std::vector<RankRow> rows = {row(0, "a", 2048, 2000, 1500), row(1, "b", 2048, 4000, 1000),
                                       row(2, "a", 1024, 1000, 1024, true)};
    const std::vector<std::string> expected = {
        "rank 0 on a: 2048 MB written in 2.000 s, 1024 MB/s\n",
        "rank 1 on b: 2048 MB written in 4.000 s, 512 MB/s\n",
        "rank 2 on a: 1024 MB written in 1.000 s, 1024 MB/s, fell short\n",
        "slowest: rank 1 on b, 512 MB/s\n",
        "fastest: rank 0 on a, 1024 MB/s\n",  // first of equals
        "MB/s while all ranks were writing: 3524 (3524 MB in 1.000 s, until the first rank finished)\n",
        "MB/s to completion: 1280 (5120 MB in 4.000 s, until the last rank finished)\n",
        "tail: 3.000 s between the first and the last rank to finish\n",
        "start: all ranks released within 1.500 ms (the start barrier on the last rank to reach it)\n",
        "durable: every file flushed 4.250 s after the start; the longest flush took 0.250 s\n",
    };
    EXPECT_EQ(summary_lines(rows, true), expected);
    std::vector<std::string> unbuffered = summary_lines(rows, false);
    EXPECT_EQ(unbuffered, std::vector<std::string>(expected.begin(), expected.end() - 1));
}

RankRow failed_row(uint32_t rank, const char* host, const char* failure) {
    RankRow r = row(rank, host, 0, 0, 0, true);
    std::strcpy(r.failure, failure);
    return r;
}

TEST(MpiSummary, RanksThatWroteNothingAreNamedAndLeftOutOfTheFigures) {
    // A rank that failed before its first block ends at 0 s with 0 MB: were it
    // counted, it would be the slowest and the window of all ranks would close at 0.
    const std::vector<RankRow> rows = {row(0, "a", 1024, 2000, 700), failed_row(1, "b", "cannot create its test file: "
                                                                                         "No such file or directory"),
                                       row(2, "a", 1024, 1000, 1024), failed_row(3, "c", "")};
    const std::vector<std::string> expected = {
        "rank 0 on a: 1024 MB written in 2.000 s, 512 MB/s\n",
        "failed: rank 1 on b: cannot create its test file: No such file or directory\n",
        "rank 2 on a: 1024 MB written in 1.000 s, 1024 MB/s\n",
        "failed: rank 3 on c: wrote nothing\n",
        "slowest: rank 0 on a, 512 MB/s\n",
        "fastest: rank 2 on a, 1024 MB/s\n",
        "MB/s while all ranks were writing: 1724 (1724 MB in 1.000 s, until the first rank finished)\n",
        "MB/s to completion: 1024 (2048 MB in 2.000 s, until the last rank finished)\n",
        "tail: 1.000 s between the first and the last rank to finish\n",
        "start: all ranks released within 1.500 ms (the start barrier on the last rank to reach it)\n",
    };
    EXPECT_EQ(summary_lines(rows, false), expected);

    const std::vector<std::string> none = summary_lines({failed_row(0, "a", "a write failed"), failed_row(1, "a", "")},
                                                        true);
    const std::vector<std::string> expected_none = {
        "failed: rank 0 on a: a write failed\n", "failed: rank 1 on a: wrote nothing\n",
        "no figures: no rank wrote a block\n",
        "start: all ranks released within 1.500 ms (the start barrier on the last rank to reach it)\n"};
    EXPECT_EQ(none, expected_none);
}

RankRow wall_row(uint32_t rank, const char* host, uint64_t wall_mb, uint64_t wall_ms, uint64_t mb, uint64_t span_ms) {
    RankRow r = row(rank, host, mb, span_ms, 0);
    r.wall_kb = wall_mb << 10;
    r.wall_ms = wall_ms;
    return r;
}

// The two figures of a run for a fixed time, in the summary's units: whole
// MB, thousandths of seconds, whole MB/s.
TEST(MpiSummary, StonewallAndWearOutLines) {
    const struct {
        const char* what;
        std::vector<RankRow> rows;
        std::vector<std::string> lines;
    } cases[] = {
        {"a fast and a slow rank",
         {wall_row(0, "a", 800, 5010, 800, 5010), wall_row(1, "b", 200, 5040, 800, 9000)},
         {"stonewall: 1000 MB in 5.040 s, 198 MB/s (all ranks until they stopped at 5 s); the slowest, rank 1 on b, "
          "was 600 MB behind rank 0 on a\n",
          "wear-out: 1600 MB in 9.000 s, 177 MB/s (to the last rank's end, every file written on to 800 blocks)\n"}},
        {"a rank that wrote nothing is left out; one rank is behind none",
         {failed_row(0, "a", "a write failed"), wall_row(1, "b", 300, 5000, 800, 6000)},
         {"stonewall: 300 MB in 5.000 s, 60 MB/s (all ranks until they stopped at 5 s)\n",
          "wear-out: 800 MB in 6.000 s, 133 MB/s (to the last rank's end, every file written on to 800 blocks but "
          "those that fell short)\n"}},
        {"ranks at one count",
         {wall_row(0, "a", 500, 5001, 800, 7000), wall_row(1, "b", 500, 5002, 800, 7000)},
         {"stonewall: 1000 MB in 5.002 s, 199 MB/s (all ranks until they stopped at 5 s); no rank was behind\n",
          "wear-out: 1600 MB in 7.000 s, 228 MB/s (to the last rank's end, every file written on to 800 blocks)\n"}},
        {"every rank finished first",
         {wall_row(0, "a", 0, 0, 800, 4000), wall_row(1, "b", 0, 0, 800, 4500)},
         {"stonewall: not reached: every rank finished before 5 s\n"}},
        {"no rank wrote", {failed_row(0, "a", "")}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(stonewall_lines(c.rows, 5, 800), c.lines) << c.what;
    const StonewallFigures figures = stonewall_figures(cases[0].rows, 800);
    EXPECT_EQ(figures.slowest, 1u);
    EXPECT_EQ(figures.slowest_rank, 1u);
    EXPECT_EQ(figures.behind_kb, 600u << 10);
}

TEST(MpiSummary, ReadBackLineQuotesAPrefixTheShellWouldSplit) {
    RunSettings settings;
    settings.buffered = true;
    settings.buffer_kb = 1024;
    settings.thread_count = 2;
    settings.max_gb = 4;
    const struct {
        const char* prefix;
        const char* shown;
    } cases[] = {
        {"/shared/vx/run_r0000", "/shared/vx/run_r0000"},
        {"/mnt/my disk/run_r0000", "'/mnt/my disk/run_r0000'"},
        {"/mnt/it's/run", "'/mnt/it'\\''s/run'"},
        {"/mnt/$HOME/run", "'/mnt/$HOME/run'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_back_line(settings, c.prefix),
                  std::string("check the files with vorlax-read and each rank's prefix: vorlax-read B ") + c.shown +
                      " 1024 2 4 reads rank 0's\n");
}

TEST(MpiNotes, RankRanges) {
    const struct {
        std::vector<uint32_t> ranks;
        const char* text;
    } cases[] = {{{0}, "0"}, {{0, 1, 2}, "0-2"}, {{0, 2, 3, 5, 7, 8}, "0, 2-3, 5, 7-8"}, {{}, ""}};
    for (const auto& c : cases) EXPECT_EQ(rank_ranges(c.ranks), c.text);
}

TEST(MpiNotes, IdenticalNotesMergedWithTheirRanksAndHosts) {
    const std::string memory = "vorlax-mpi: note: /dev/shm is memory-backed; memory speed\n";
    const std::string cache = "vorlax-mpi: note: the page cache\n";
    const std::string other = "vorlax-mpi: note: /local/b is memory-backed\n";
    const std::vector<std::string> hosts = {"a", "a", "b", "b", "a"};
    const std::vector<std::string> merged =
        merge_rank_notes({{memory, cache}, {memory}, {other}, {memory}, {memory, cache}}, hosts);
    EXPECT_EQ(merged, (std::vector<std::string>{
                          "vorlax-mpi: note: /dev/shm is memory-backed; memory speed (ranks 0-1, 3-4 on a, b)\n",
                          "vorlax-mpi: note: the page cache (ranks 0, 4 on a)\n",
                          "vorlax-mpi: note: /local/b is memory-backed (rank 2 on b)\n",
                      }));
    EXPECT_TRUE(merge_rank_notes({{}, {}}, {"a", "b"}).empty());
    // A note held on many hosts names the first four and counts the rest.
    std::vector<std::vector<std::string>> everywhere(7, {cache});
    EXPECT_EQ(merge_rank_notes(everywhere, {"h0", "h1", "h2", "h3", "h4", "h5", "h0"}),
              std::vector<std::string>{
                  "vorlax-mpi: note: the page cache (ranks 0-6 on h0, h1, h2, h3 and 2 more hosts)\n"});
}

// Which launcher the environment names, and the folder it keeps its session in.
TEST(MpiNotes, LauncherSessionComesFromTheEnvironment) {
    const struct {
        const char *orte, *pmix, *job;
        Launcher launcher;
        const char* folder;
    } cases[] = {
        {"/tmp/ompi.vm.0", "/tmp/ompi.vm.0/pmix", nullptr, Launcher::mpirun, "/tmp/ompi.vm.0"},
        {"/tmp/ompi.vm.0", "/tmp/x", "17", Launcher::mpirun, "/tmp/ompi.vm.0"},  // mpirun inside a Slurm job
        {nullptr, "/var/spool/slurmd/pmix.17.0/", "17", Launcher::slurm, "/var/spool/slurmd/pmix.17.0/"},
        {"", "/var/tmp/prte.1", "", Launcher::other_pmix, "/var/tmp/prte.1"},
        {nullptr, nullptr, "17", Launcher::none, ""},
        {"", "", nullptr, Launcher::none, ""},
    };
    for (const auto& c : cases) {
        const LauncherSession session = launcher_session(c.orte, c.pmix, c.job);
        EXPECT_EQ(session.launcher, c.launcher) << c.folder;
        EXPECT_EQ(session.folder, c.folder);
    }
}

// Each launcher's note says what moves its folder, and only what does.
TEST(MpiNotes, SessionFolderNoteGivesOnlyAdviceThatMovesTheFolder) {
    const struct {
        LauncherSession session;
        bool memory_backed;
        const char* starts;             // empty: no note
        std::vector<const char*> says;  // each in the note
        std::vector<const char*> never;
    } cases[] = {
        {{Launcher::mpirun, "/tmp/ompi.vm.0"}, false,
         "vorlax-mpi: note: mpirun keeps its session folder /tmp/ompi.vm.0 on the file system of the test files "
         "(/data/vx); ",
         {"TMPDIR=/dev/shm", "--mca orte_tmpdir_base /dev/shm"}, {"Slurm"}},
        {{Launcher::slurm, "/var/spool/slurmd/pmix.17.0/"}, false,
         "vorlax-mpi: note: Slurm keeps this job step's PMIx folder /var/spool/slurmd/pmix.17.0/ in slurmd's spool "
         "(SlurmdSpoolDir) on the file system of the test files (/data/vx); ",
         {"setting SlurmdSpoolDir in slurm.conf"}, {"TMPDIR", "--mca", "mpirun"}},
        {{Launcher::other_pmix, "/var/tmp/prte.1"}, false,
         "vorlax-mpi: note: the launcher keeps its PMIx session folder /var/tmp/prte.1 on the file system of the "
         "test files (/data/vx); ",
         {}, {"TMPDIR", "--mca", "Slurm"}},
        // Test files in memory: no disk slows the session folder.
        {{Launcher::mpirun, "/dev/shm/ompi.vm.0"}, true, "", {}, {}},
        {{Launcher::slurm, "/dev/shm/pmix.17.0"}, true, "", {}, {}},
        {{}, false, "", {}, {}},
    };
    for (const auto& c : cases) {
        const std::string note = session_folder_note("vorlax-mpi", c.session, "/data/vx", c.memory_backed);
        SCOPED_TRACE(c.session.folder);
        if (!*c.starts) {
            EXPECT_EQ(note, "");
            continue;
        }
        EXPECT_EQ(note.rfind(c.starts, 0), 0u) << note;
        for (const char* text : c.says) EXPECT_NE(note.find(text), std::string::npos) << text << " in " << note;
        for (const char* text : c.never) EXPECT_EQ(note.find(text), std::string::npos) << text << " in " << note;
        EXPECT_EQ(std::count(note.begin(), note.end(), '\n'), 1);
        EXPECT_EQ(note.back(), '\n');
    }
}

// What the session-folder note is decided by: one device, or two.
TEST(MpiNotes, SameFileSystemComparesTheDevices) {
    ScratchDir scratch;
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {scratch.path(), scratch.file("missing/.."), false},  // a path that cannot be looked at
        {scratch.path(), scratch.path() + "/.", true},
        {"/", "/proc", false},  // proc is a file system of its own
        {"/", "/nonexistent", false},
    };
    for (const auto& c : cases) EXPECT_EQ(same_file_system(c.a.c_str(), c.b.c_str()), c.same) << c.a << " " << c.b;
}

TEST(MpiSummary, BannerCompletionLineAndHosts) {
    RunSettings settings;
    settings.buffer_kb = 1024;
    settings.thread_count = 2;
    EXPECT_EQ(mpi_banner(settings, 8, 4),
              "VORLAX: writing unbuffered 1024K buffers in 2 threads up to 1 GB each, on 8 ranks of 4 hosts\n");
    EXPECT_EQ(mpi_completion_line(12, 3, 16384), "rank 12 thread 3 done! 16384\n");
    EXPECT_EQ(count_hosts({"a", "b", "a", "c", "b"}), 3u);
}

}  // namespace
