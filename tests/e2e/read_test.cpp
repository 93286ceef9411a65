// vorlax-read end to end: a file that vorlax wrote, read back whole, then
// after each kind of damage, each repaired before the next.
#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <regex>

#include "../support/scratch_dir.h"
#include "output_lines.h"
#include "run_process.h"
#include "version.h"

namespace {

constexpr off_t block_bytes = 64 * 1024, file_bytes = off_t{1} << 30;

// Runs vorlax (or the companion program) with args in cwd; stdout and
// stderr with LF line ends, stderr without the opening notes.
ProcessResult run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<std::string> command = program == "vorlax" ? vorlax_command() : companion_command(program);
    command.insert(command.end(), args.begin(), args.end());
    ProcessResult result = run_process(command, cwd);
    for (std::string* text : {&result.out, &result.err})
        text->erase(std::remove(text->begin(), text->end(), '\r'), text->end());
    result.err = without_notes(result.err);
    return result;
}

void put(const std::string& file, off_t offset, const std::string& bytes) {
    int fd = open(file.c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size())) << file;
    close(fd);
}

// Puts vorlax's pattern back over bytes [from, to) of file.
void repair(const std::string& file, off_t from, off_t to) {
    for (off_t at = from, end; at < to; at = end) {
        end = std::min(to, (at / block_bytes + 1) * block_bytes);
        put(file, at, std::string(static_cast<size_t>(end - at), static_cast<char>(at / block_bytes)));
    }
}

// Block from's pattern over block to.
void copy_block(const std::string& file, off_t from, off_t to) {
    put(file, to * block_bytes, std::string(block_bytes, static_cast<char>(from)));
}

// One file of 1 GB in 64 KB blocks, written by vorlax once for all cases, in
// a folder that takes unbuffered reads where there is one.
class ReadBack : public testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = std::make_unique<ScratchDir>(ScratchUse::unbuffered);
        if (scratch_->path().empty()) {
            unbuffered_note_ = scratch_->unbuffered_note();
            scratch_ = std::make_unique<ScratchDir>();
        }
        ASSERT_EQ(run("vorlax", {"B", prefix(), "64", "1", "1"}, scratch_->path()).exit_status, 0);
    }
    static void TearDownTestSuite() { scratch_.reset(); }
    static std::string prefix() { return scratch_->file("r"); }
    static ProcessResult read(const char* mode, const char* kb = "64", const char* gb = "1") {
        return run("vorlax-read", {mode, prefix(), kb, "1", gb}, scratch_->path());
    }
    static std::unique_ptr<ScratchDir> scratch_;
    static std::string unbuffered_note_;
};
std::unique_ptr<ScratchDir> ReadBack::scratch_;
std::string ReadBack::unbuffered_note_;

TEST(ReadCommandLine, VersionInTheFamilysShape) {
    ProcessResult result = run("vorlax-read", {"--version"}, ".");
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "vorlax-read (VORLAX) " VORLAX_VERSION "\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(ReadBack, CleanReadPassesInBothModes) {
    const std::regex last_line(R"( *\d+\.\d{3}:     1024 MB read, +\d+ MB/s sustained, +\d+ MB/S incremental)");
    for (const std::string mode : {"B", "U"}) {
        if (mode == "U" && !unbuffered_note_.empty()) GTEST_SKIP() << unbuffered_note_;
        ProcessResult result = read(mode.c_str());
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, "");
        std::vector<std::string> lines = lines_of(result.out);
        ASSERT_GE(lines.size(), 4u) << result.out;
        EXPECT_EQ(lines.front(), "VORLAX: reading " + std::string(mode == "B" ? "" : "un") +
                                     "buffered 64K buffers in 1 threads up to 1 GB each");
        EXPECT_TRUE(has_line(result.out, "thread 0 done! 16384")) << result.out;
        // The last progress line comes as the reader ends, with the whole total.
        EXPECT_TRUE(std::regex_match(lines[lines.size() - 2], last_line)) << result.out;
        EXPECT_EQ(lines.back(), "DONE!");
    }
}

// Punches a hole of bytes at offset of file. Returns false when that
// fails; *reported is false when the file system does not then report the
// hole (SEEK_HOLE), as vorlax-read asks it to.
bool punch_hole(const std::string& file, off_t offset, off_t bytes, bool* reported) {
    const std::string command =
        "fallocate --punch-hole -o " + std::to_string(offset) + " -l " + std::to_string(bytes) + " " + file;
    if (std::system(command.c_str()) != 0) return false;
    int fd = open(file.c_str(), O_RDONLY);
    *reported = *reported && lseek(fd, offset, SEEK_HOLE) == offset;
    close(fd);
    return true;
}

TEST_F(ReadBack, EachKindOfDamageGetsItsLine) {
    const std::string f = prefix() + "_00.BIN";
    const char* system = std::getenv("VORLAX_TARGET_SYSTEM");
    const bool windows = system && std::string(system) == "windows";
    // Holes are seen where the file system reports them to the reader.
    bool holes_seen = true;
    auto punch = [&](off_t offset, off_t bytes) {
        ASSERT_TRUE(punch_hole(f, offset, bytes, &holes_seen)) << "fallocate --punch-hole on " << f;
    };
    auto holes = [&](const std::string& line) { return holes_seen && !windows ? line : std::string(); };
    const std::string hole_words =
        "where the file system keeps no data and reads return zeros (a file vorlax wrote has none), in ";
    const std::string hole_advice =
        ": punched or made sparse after the writing (fallocate --punch-hole, a sparse copy), or data the file "
        "system lost; write the file again; ";
    const std::string again =
        "; read again to tell a lasting fault from a passing one: one that stays is on the disk (write the file "
        "again and read it: the same blocks bad again point at the device), one that goes came on the way "
        "(memory, cable, controller)";
    const std::string cut_advice =
        "; the rest is missing: the writing stopped early (a full disk? a failed run?) or the file was cut later; "
        "write it again";
    const struct {
        std::function<void()> damage;
        off_t from, to;   // vorlax's pattern goes back over [from, to) afterwards
        const char* kb;   // the block size to read with
        std::function<std::string()> line;   // "" for a clean read
        const char* gb = "1";
    } cases[] = {
        {[&] { put(f, 5 * block_bytes + 100, "\xFA"); }, 5 * block_bytes, 6 * block_bytes, "64", [&] {
             return "1 bad block of 16384 read; the first is block 5 at byte 327680: found 0xFA at byte 327780, "
                    "expected 0x05; 1 stray byte in it: bit rot, or a fault in memory or on the way" + again;
         }},
        // A zero byte, or zeros short of a whole sector, are stray bytes.
        {[&] { put(f, 5 * block_bytes + 1000, std::string(1, '\0')); }, 5 * block_bytes, 6 * block_bytes, "64",
         [&] {
             return "1 bad block of 16384 read; the first is block 5 at byte 327680: found 0x00 at byte 328680, "
                    "expected 0x05; 1 stray byte in it: bit rot, or a fault in memory or on the way" + again;
         }},
        {[&] { put(f, 5 * block_bytes + 1000, std::string(500, '\0')); }, 5 * block_bytes, 6 * block_bytes, "64",
         [&] {
             return "1 bad block of 16384 read; the first is block 5 at byte 327680: found 0x00 at byte 328680, "
                    "expected 0x05; 500 stray bytes in it, all zero but less than a whole sector: bit rot, or a "
                    "fault in memory or on the way" + again;
         }},
        {[&] { copy_block(f, 11, 10); }, 10 * block_bytes, 11 * block_bytes, "64", [&] {
             return "1 bad block of 16384 read; the first is block 10 at byte 655360: found 0x0B at byte 655360, "
                    "expected 0x0A; the whole block holds 0x0B, the pattern of a block 1 further on, modulo 256: "
                    "data written to or read from the wrong place" + again;
         }},
        {[&] { punch(1318912, 16384); }, 20 * block_bytes, 21 * block_bytes, "64", [&] {
             return holes("1 hole, " + hole_words + "block 20" + hole_advice) +
                    "1 bad block of 16384 read; the first is block 20 at byte 1310720: found 0x00 at byte 1318912, "
                    "expected 0x14; 16384 zero bytes from byte 8192 of the block: a hole, or a range the disk "
                    "never wrote or has trimmed" + again;
         }},
        // Holes where the pattern is zeros read back as good but are damage.
        {[&] {
             punch(0, block_bytes);
             punch(256 * block_bytes, 2 * block_bytes);
         }, 0, 258 * block_bytes, "64",
         [&] {
             const std::string line = holes("2 holes, " + hole_words + "block 0, blocks 256 to 257" + hole_advice) +
                                      "1 bad block of 16384 read; the first is block 257 at byte 16842752: found "
                                      "0x00 at byte 16842752, expected 0x01; the whole block is zeros: a hole, or a "
                                      "range the disk never wrote or has trimmed" + again;
             return line;
         }},
        {[&] { ASSERT_EQ(truncate(f.c_str(), 16000 * block_bytes + 300), 0); }, 16000 * block_bytes, file_bytes,
         "64", [&] {
             return "cut short: 16000 whole blocks of 16384, then 300 bytes of block 16000 (1048576300 of "
                    "1073741824 bytes)" + cut_advice;
         }},
        {[&] { ASSERT_EQ(truncate(f.c_str(), 16000 * block_bytes), 0); }, 16000 * block_bytes, file_bytes, "64",
         [&] { return "cut short: 16000 whole blocks of 16384 (1048576000 of 1073741824 bytes)" + cut_advice; }},
        {[&] { ASSERT_EQ(std::rename(f.c_str(), (f + ".away").c_str()), 0); }, 0, 0, "64", [&] {
             return std::string("cannot open: ") + (windows ? "File not found" : "No such file or directory") +
                    "; vorlax-read takes the arguments that wrote the files: the same path prefix (here " + prefix() +
                    "), block size and max-GB";
         }},
        {[&] {
             ASSERT_EQ(std::rename(f.c_str(), (f + ".away").c_str()), 0);
             ASSERT_EQ(mkdir(f.c_str(), 0700), 0);
         }, 0, 0, "64",
         [&] { return std::string("is a folder, not a test file; give the path prefix the files were written with"); }},
        {[] {}, 0, 0, "1024", [&] {
             return std::string("written with 64 KB blocks, not 1024 KB (its byte value first changes at byte 65536); "
                                "read it with max-buf-KB 64");
         }},
        {[] {}, 0, 0, "3", [&] {
             return std::string("written with 64 KB blocks, not 3 KB (its byte value first changes at byte 65536); "
                                "read it with max-buf-KB 64");
         }},
        {[] {}, 0, 0, "64", [&] {
             return std::string("shorter than this run's 32768 blocks: 1073741824 bytes where 2147483648 belong, "
                                "the length of a file of max-GB 1 (written with a smaller max-GB? read it with "
                                "max-GB 1)");
         }, "2"},
        // The limit of the pattern: block j+256 holds what block j does.
        {[&] { copy_block(f, 266, 10); }, 10 * block_bytes, 11 * block_bytes, "64", [] { return std::string(); }},
    };
    for (const auto& c : cases) {
        c.damage();
        const std::string line = c.line();
        SCOPED_TRACE(line);
        ProcessResult result = read("B", c.kb, c.gb);
        EXPECT_EQ(result.exit_status, line.empty() ? 0 : 1);
        EXPECT_EQ(result.err, line.empty() ? "" : "vorlax-read: " + f + ": " + line + "\n");
        const std::vector<std::string> out = lines_of(result.out);
        EXPECT_EQ(out.back(), "DONE!");
        // A read that counted blocks ends with a progress line of their
        // exact total, however fast the reader was done.
        std::smatch done, last;
        if (std::regex_search(result.out, done, std::regex(R"(thread 0 done! (\d+))")) && done[1] != "0") {
            ASSERT_GE(out.size(), 2u);
            ASSERT_TRUE(std::regex_match(out[out.size() - 2], last, std::regex(R"( *\d+\.\d{3}: +(\d+) MB read, .*)")))
                << result.out;
            EXPECT_EQ(std::stoull(last[1]), std::stoull(done[1]) * std::stoull(c.kb) / 1024) << result.out;
        }
        rmdir(f.c_str());
        std::rename((f + ".away").c_str(), f.c_str());
        repair(f, c.from, c.to);
    }
    if (!holes_seen) std::printf("this file system does not report holes: the hole lines were not checked\n");
}

// A FIFO or folder where a test file should be: named as what it is, and
// never waited on (the FIFO has no writer; the run would hang on it).
TEST(ReadNotAFile, AFifoOrFolderInAFilesPlaceIsNamedAndNotWaitedOn) {
    ScratchDir scratch;
    const std::string fifo = scratch.file("n_00.BIN"), folder = scratch.file("n_01.BIN");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    for (const char* mode : {"B", "U"}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> command = {"timeout", "-k", "5", "60"};
        for (const std::string& word : companion_command("vorlax-read")) command.push_back(word);
        for (const std::string& word : {std::string(mode), scratch.file("n"), std::string("64"), std::string("2"),
                                        std::string("1")})
            command.push_back(word);
        const ProcessResult result = run_process(command, scratch.path());
        EXPECT_EQ(result.exit_status, 1) << result.err;
        EXPECT_NE(result.err.find(fifo + ": is a FIFO, not a test file"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(folder + ": is a folder, not a test file"), std::string::npos) << result.err;
    }
}

}  // namespace
