// vorlax-read end to end: files that vorlax wrote, read back whole, then
// after each kind of damage, each repaired before the next.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "../support/scratch_dir.h"
#include "output_lines.h"
#include "run_process.h"

namespace {

constexpr off_t block_bytes = 64 * 1024, file_bytes = off_t{1} << 30;
const bool on_windows = [] {
    const char* name = std::getenv("VORLAX_TARGET_SYSTEM");
    return name && std::string(name) == "windows";
}();

// Runs program ("vorlax" or "vorlax-read") with args in cwd; stderr without
// the opening notes, CR LF read as LF.
ProcessResult run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<std::string> command = program == "vorlax" ? vorlax_command() : companion_command(program);
    command.insert(command.end(), args.begin(), args.end());
    ProcessResult result = run_process(command, cwd);
    for (std::string* text : {&result.out, &result.err})
        text->erase(std::remove(text->begin(), text->end(), '\r'), text->end());
    result.err = without_notes(result.err);
    return result;
}

// Puts the pattern back over bytes [from, to) of file, as vorlax wrote it.
void write_pattern(const std::string& file, off_t from, off_t to) {
    int fd = open(file.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << file;
    for (off_t block = from / block_bytes; block * block_bytes < to; ++block) {
        const off_t start = std::max(from, block * block_bytes), end = std::min(to, (block + 1) * block_bytes);
        std::string bytes(static_cast<size_t>(end - start), static_cast<char>(block & 0xFF));
        ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), start), static_cast<ssize_t>(bytes.size()));
    }
    close(fd);
}

void poke(const std::string& file, off_t offset, char byte) {
    int fd = open(file.c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, &byte, 1, offset), 1);
    close(fd);
}

void copy_block(const std::string& file, off_t from_block, off_t to_block) {
    std::string bytes(block_bytes, '\0');
    int fd = open(file.c_str(), O_RDWR);
    ASSERT_EQ(pread(fd, bytes.data(), bytes.size(), from_block * block_bytes), block_bytes);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), to_block * block_bytes), block_bytes);
    close(fd);
}

int fallocate_hole(const std::string& file, off_t offset, off_t bytes) {
    return std::system(("fallocate --punch-hole -o " + std::to_string(offset) + " -l " + std::to_string(bytes) +
                        " " + file).c_str());
}

// One file of 1 GB in 64 KB blocks, written by vorlax once for all cases.
class ReadBack : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // A folder that takes unbuffered reads, where there is one.
        scratch_ = std::make_unique<ScratchDir>(ScratchUse::unbuffered);
        if (scratch_->path().empty()) {
            unbuffered_note_ = scratch_->unbuffered_note();
            scratch_ = std::make_unique<ScratchDir>();
        }
        ProcessResult written = run("vorlax", {"B", prefix(), "64", "1", "1"}, scratch_->path());
        ASSERT_EQ(written.exit_status, 0) << written.err;
    }
    static void TearDownTestSuite() { scratch_.reset(); }
    static std::string prefix() { return scratch_->file("r"); }
    static std::string file() { return prefix() + "_00.BIN"; }
    static std::unique_ptr<ScratchDir> scratch_;
    static std::string unbuffered_note_;
};
std::unique_ptr<ScratchDir> ReadBack::scratch_;
std::string ReadBack::unbuffered_note_;

TEST_F(ReadBack, CommandLineAsVorlaxWithItsOwnNameAndHelp) {
    const std::string usage = "Usage: vorlax-read <B|U> [path] [max-buf-KB] [max-threads] [max-GB]\n";
    ProcessResult none = run("vorlax-read", {}, scratch_->path());
    EXPECT_EQ(none.exit_status, 2);
    EXPECT_EQ(none.out, usage);
    ProcessResult help = run("vorlax-read", {"--help"}, scratch_->path());
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_EQ(help.out.rfind(usage, 0), 0u) << help.out;
    EXPECT_NE(help.out.find("man vorlax-read"), std::string::npos) << help.out;
    ProcessResult version = run("vorlax-read", {"--version"}, scratch_->path());
    EXPECT_EQ(version.exit_status, 0);
    EXPECT_EQ(version.out, "vorlax-read (VORLAX) " VORLAX_VERSION "\n");
}

TEST_F(ReadBack, CleanReadPassesInBothModes) {
    const std::regex last_line(R"( *\d+\.\d{3}:     1024 MB read, +\d+ MB/s sustained, +\d+ MB/S incremental)");
    for (const std::string mode : {"B", "U"}) {
        if (mode == "U" && !unbuffered_note_.empty()) GTEST_SKIP() << unbuffered_note_;
        ProcessResult result = run("vorlax-read", {mode, prefix(), "64", "1", "1"}, scratch_->path());
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

TEST_F(ReadBack, EachKindOfDamageGetsItsLine) {
    const std::string f = file();
    const struct {
        const char* label;
        std::function<void()> damage;
        off_t from, to;  // the range to repair afterwards
        const char* kb;  // the block size to read with
        std::string line;
    } cases[] = {
        {"flipped byte", [&] { poke(f, 5 * block_bytes + 100, '\xFA'); },
         5 * block_bytes, 6 * block_bytes, "64",
         "1 bad block of 16384 read; the first is block 5 at byte 327680: found 0xFA at byte 327780, expected 0x05; "
         "1 stray byte in it: bit rot, or a fault in memory or on the way"},
        {"block j+1 over block j", [&] { copy_block(f, 11, 10); }, 10 * block_bytes, 11 * block_bytes, "64",
         "1 bad block of 16384 read; the first is block 10 at byte 655360: found 0x0B at byte 655360, expected 0x0A; "
         "the whole block holds 0x0B, the pattern of a block 1 further on, modulo 256: data written to or read from "
         "the wrong place"},
        {"punched hole", [&] { ASSERT_EQ(fallocate_hole(f, 20 * block_bytes + 8192, 16384), 0); },
         20 * block_bytes, 21 * block_bytes, "64",
         "1 bad block of 16384 read; the first is block 20 at byte 1310720: found 0x00 at byte 1318912, expected "
         "0x14; 16384 zero bytes from byte 8192 of the block: a hole, or a range the disk never wrote or has trimmed"},
        {"cut mid-block", [&] { ASSERT_EQ(truncate(f.c_str(), 16000 * block_bytes + 300), 0); },
         16000 * block_bytes, file_bytes, "64",
         "cut short: 16000 whole blocks of 16384, then 300 bytes of block 16000 (1048576300 of 1073741824 bytes); "
         "the rest is missing"},
        {"cut at a block boundary", [&] { ASSERT_EQ(truncate(f.c_str(), 16000 * block_bytes), 0); },
         16000 * block_bytes, file_bytes, "64",
         "cut short: 16000 whole blocks of 16384 (1048576000 of 1073741824 bytes); the rest is missing"},
        {"missing file", [&] { ASSERT_EQ(std::rename(f.c_str(), (f + ".away").c_str()), 0); }, 0, 0, "64",
         std::string("cannot open: ") + (on_windows ? "File not found" : "No such file or directory")},
        {"another block size", [] {}, 0, 0, "1024",
         "written with 64 KB blocks, not 1024 KB (its byte value first changes at byte 65536); read it with "
         "max-buf-KB 64"},
        // The limit of the pattern: block j+256 holds what block j does.
        {"block j+256 over block j", [&] { copy_block(f, 266, 10); }, 0, 0, "64", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        c.damage();
        ProcessResult result = run("vorlax-read", {"B", prefix(), c.kb, "1", "1"}, scratch_->path());
        EXPECT_EQ(result.exit_status, c.line.empty() ? 0 : 1);
        EXPECT_EQ(result.err, c.line.empty() ? "" : "vorlax-read: " + f + ": " + c.line + "\n");
        EXPECT_EQ(lines_of(result.out).back(), "DONE!");
        std::rename((f + ".away").c_str(), f.c_str());
        if (c.to > c.from) write_pattern(f, c.from, c.to);
    }
}

}  // namespace
