// End-to-end: the one-line notes on stderr, for arguments a run replaces or
// reads in part and for runs that would measure memory or a compressor
// rather than a disk. They never change stdout or the exit status. No test
// here depends on how long a run takes: the notes come before any writer
// starts, and the runs write into sinks or fail at once.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "../support/scratch_dir.h"
#include "output_lines.h"
#include "run_process.h"

namespace {

namespace fs = std::filesystem;

const std::regex out_line(R"(VORLAX: writing (un)?buffered \d+K buffers in \d+ threads up to \d+ GB each|)"
                          R"( *\d+\.\d{3}: +\d+ MB written, +\d+ MB/s sustained, +\d+ MB/S incremental|)"
                          R"(thread \d+ done! \d+|DONE!)");
const std::regex cache_note(R"(vorlax: note: the test files \((\d+) MB in all\) fit in the memory available )"
                            R"(\(\d+ MB\); these figures will show the page cache until it fills; mode U or a )"
                            R"(larger size measures the disk)");
const std::string shrinks = ": every block is one repeated byte and shrinks to almost nothing, so these figures "
                            "show the compressor, not the disk; use a folder without compression";

// Runs VORLAX with args; with merged, stderr goes into the same pipe as
// stdout (so the order of the two shows) and result.err stays empty.
ProcessResult run_vorlax(const std::vector<std::string>& args, const std::string& cwd, bool merged = false) {
    std::vector<std::string> command;
    if (merged) command = {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh"};
    for (const std::string& word : vorlax_command()) command.push_back(word);
    command.insert(command.end(), args.begin(), args.end());
    return run_process(command, cwd);
}

bool is_note(const std::string& line) { return line.rfind("vorlax: note: ", 0) == 0; }

std::vector<std::string> notes_of(const std::string& err) {
    std::vector<std::string> notes;
    for (const std::string& line : lines_of(err))
        if (is_note(line)) notes.push_back(line);
    return notes;
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

// Sinks named like the test files of prefix for threads 0..count-1.
void make_sinks(const std::string& prefix, int count, const char* target = "/dev/null") {
    for (int thread = 0; thread < count; ++thread)
        fs::create_symlink(target, prefix + "_0" + std::to_string(thread) + ".BIN");
}

TEST(Notes, MemoryBackedFolderInEitherModeAndNoPageCacheNote) {
    ScratchDir scratch;
    if (!on_tmpfs(scratch.path())) GTEST_SKIP() << "scratch folder is not on tmpfs";
    const std::string memory_note =
        "vorlax: note: " + scratch.path() + " is memory-backed; these figures are memory speed, not a disk's\n";
    make_sinks(scratch.file("sink"), 1);
    ProcessResult result = run_vorlax({"B", scratch.file("sink"), "1024"}, scratch.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err, memory_note);
    expect_plain_stdout(result.out);
    // Mode U writes a real file: a sink would refuse to bypass the cache.
    // tmpfs takes O_DIRECT only from kernel 6.6 on.
    ScratchDir direct(ScratchUse::unbuffered);
    if (!on_tmpfs(direct.path())) GTEST_SKIP() << "tmpfs here does not take unbuffered (O_DIRECT) files";
    result = run_vorlax({"U", direct.file("run"), "1024"}, direct.path());
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err, "vorlax: note: " + direct.path() +
                              " is memory-backed; these figures are memory speed, not a disk's\n");
    expect_plain_stdout(result.out);
}

// Argument notes come before the banner (which shows the values in force),
// the run's notes right after it, all before anything a writer prints.
TEST(Notes, ComeBeforeAnyWriterLine) {
    ScratchDir scratch;
    if (!on_tmpfs(scratch.path())) GTEST_SKIP() << "scratch folder is not on tmpfs";
    make_sinks(scratch.file("sink"), 1);
    ProcessResult result = run_vorlax({"Bx", scratch.file("sink"), "1024k"}, scratch.path(), true);
    EXPECT_EQ(result.exit_status, 0);
    std::vector<std::string> lines = lines_of(result.out);
    ASSERT_GE(lines.size(), 5u) << result.out;
    EXPECT_EQ(lines[0], "vorlax: note: mode \"Bx\" read as B: writing buffered; only its first letter counts");
    EXPECT_EQ(lines[1], "vorlax: note: max-buf-KB \"1024k\" read as 1024 (KB); sizes are whole KB, no suffixes");
    EXPECT_EQ(lines[2], "VORLAX: writing buffered 1024K buffers in 1 threads up to 1 GB each");
    EXPECT_EQ(lines[3], "vorlax: note: " + scratch.path() +
                            " is memory-backed; these figures are memory speed, not a disk's");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), is_note), 3);
}

TEST(Notes, NoRunNoteWithoutAFolderAndTheExitStatusStands) {
    ScratchDir scratch;
    // 99 files of 63 GB fit nowhere; the folder is missing, so every thread
    // fails as it always has, and nothing can be said of the folder.
    ProcessResult result = run_vorlax({"B", scratch.file("missing/run"), "32768", "99", "63"}, scratch.path());
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err.find("note:"), std::string::npos) << result.err;
    // A write that fails still fails with a note in front of it.
    make_sinks(scratch.file("full"), 1, "/dev/full");
    result = run_vorlax({"B", scratch.file("full")}, scratch.path());
    EXPECT_EQ(result.exit_status, 1);
    std::vector<std::string> err = lines_of(result.err);
    ASSERT_EQ(err.size(), 2u) << result.err;
    EXPECT_TRUE(is_note(err[0])) << err[0];
    EXPECT_EQ(err[1],
              "vorlax: " + scratch.file("full_00.BIN") + ": write failed after 0 blocks: No space left on device" +
                  write_failure_advice);
}

// A small btrfs in a loop device, in a scratch folder; mount_point() is ""
// with missing() saying why where loop devices or mkfs.btrfs are lacking.
class LoopBtrfs {
public:
    LoopBtrfs() {
        const std::string image = scratch_.file("btrfs.img");
        fs::create_directory(scratch_.file("mnt"));
        ProcessResult made = shell("command -v mkfs.btrfs losetup chattr >/dev/null || exit 3; truncate -s 256M " +
                                   image + " && mkfs.btrfs -q " + image + " >/dev/null && losetup -f --show " + image);
        if (made.exit_status == 0) device_ = lines_of(made.out).back();
        else missing_ = made.exit_status == 3 ? "mkfs.btrfs, losetup or chattr missing" : "no loop device: " + made.err;
    }
    ~LoopBtrfs() {
        if (!device_.empty()) shell("umount " + mount_point() + "; losetup -d " + device_);
    }
    const std::string& missing() const { return missing_; }
    std::string mount_point() const { return device_.empty() ? "" : scratch_.file("mnt"); }
    // Mounts it again with options, makes folder (under the mount point)
    // and runs prepare on it, if any. Returns the folder, "" on failure.
    std::string folder(const std::string& options, const std::string& name, const std::string& prepare) {
        const std::string folder = mount_point() + name;
        ProcessResult result = shell("umount " + mount_point() + " 2>/dev/null; mount -o " + options + " " + device_ +
                                     " " + mount_point() + " && mkdir -p " + folder +
                                     (prepare.empty() ? "" : " && " + prepare + " " + folder));
        EXPECT_EQ(result.exit_status, 0) << result.err;
        return result.exit_status == 0 ? folder : "";
    }

private:
    ProcessResult shell(const std::string& command) { return run_process({"/bin/sh", "-c", command}, scratch_.path()); }

    ScratchDir scratch_;
    std::string device_, missing_;
};

// On a disk (not memory), with and without compression; mode B into a sink.
TEST(Notes, CompressingBtrfsSaysSoAndAPlainOneShowsThePageCache) {
    if (geteuid() != 0) GTEST_SKIP() << "loop devices need root";
    LoopBtrfs btrfs;
    if (btrfs.mount_point().empty()) GTEST_SKIP() << btrfs.missing();
    const std::string root = btrfs.mount_point();
    const struct {
        const char *options, *folder, *prepare;
        std::string note_regex;  // the compression note, "" for none
    } cases[] = {
        {"defaults", "", "", ""},
        {"compress-force=zstd", "", "", root + " is on btrfs mounted with compress-force=zstd(:\\d+)?" + shrinks},
        {"defaults", "/c", "chattr +c", root + "/c is marked for compression" + shrinks},
        // compress leaves out a folder marked +m; compress-force does not.
        {"compress=lzo", "/m", "chattr +m", ""},
        {"compress-force=lzo", "/m", "", root + "/m is on btrfs mounted with compress-force=lzo" + shrinks},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.options) + " " + c.prepare);
        const std::string folder = btrfs.folder(c.options, c.folder, c.prepare);
        if (!fs::exists(folder + "/sink_00.BIN")) make_sinks(folder + "/sink", 1);
        ProcessResult result = run_vorlax({"B", folder + "/sink", "1024"}, folder);
        EXPECT_EQ(result.exit_status, 0) << result.err;
        std::vector<std::string> notes = notes_of(result.err), compression;
        for (const std::string& note : notes)
            if (note.find("compress") != std::string::npos) compression.push_back(note);
        ASSERT_EQ(compression.size(), c.note_regex.empty() ? 0u : 1u) << result.err;
        if (!compression.empty()) {
            EXPECT_TRUE(std::regex_match(compression[0], std::regex("vorlax: note: " + c.note_regex))) << notes[0];
        }
        // A disk is behind the folder: 1 GB fits in the page cache wherever that much is free.
        if (memory_available_bytes() > (4ull << 30)) {
            EXPECT_TRUE(std::regex_match(notes.back(), cache_note)) << result.err;
        }
        expect_plain_stdout(result.out);
    }
}

}  // namespace
