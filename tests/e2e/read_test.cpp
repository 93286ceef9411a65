// vorlax-read end to end: a file that vorlax wrote, read back whole, then
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
    static ProcessResult read(const char* mode, const char* kb = "64") {
        return run("vorlax-read", {mode, prefix(), kb, "1", "1"}, scratch_->path());
    }
    static std::unique_ptr<ScratchDir> scratch_;
    static std::string unbuffered_note_;
};
std::unique_ptr<ScratchDir> ReadBack::scratch_;
std::string ReadBack::unbuffered_note_;

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

TEST_F(ReadBack, EachKindOfDamageGetsItsLine) {
    const std::string f = prefix() + "_00.BIN";
    const char* system = std::getenv("VORLAX_TARGET_SYSTEM");
    const bool windows = system && std::string(system) == "windows";
    const struct {
        std::function<void()> damage;
        off_t from, to;   // vorlax's pattern goes back over [from, to) afterwards
        const char* kb;   // the block size to read with
        std::string line;   // "" for a clean read
    } cases[] = {
        {[&] { put(f, 5 * block_bytes + 100, "\xFA"); }, 5 * block_bytes, 6 * block_bytes, "64",
         "1 bad block of 16384 read; the first is block 5 at byte 327680: found 0xFA at byte 327780, expected 0x05; "
         "1 stray byte in it: bit rot, or a fault in memory or on the way"},
        {[&] { copy_block(f, 11, 10); }, 10 * block_bytes, 11 * block_bytes, "64",
         "1 bad block of 16384 read; the first is block 10 at byte 655360: found 0x0B at byte 655360, expected 0x0A; "
         "the whole block holds 0x0B, the pattern of a block 1 further on, modulo 256: data written to or read from "
         "the wrong place"},
        {[&] { ASSERT_EQ(std::system(("fallocate --punch-hole -o 1318912 -l 16384 " + f).c_str()), 0); },
         20 * block_bytes, 21 * block_bytes, "64",
         "1 bad block of 16384 read; the first is block 20 at byte 1310720: found 0x00 at byte 1318912, expected "
         "0x14; 16384 zero bytes from byte 8192 of the block: a hole, or a range the disk never wrote or has trimmed"},
        {[&] { ASSERT_EQ(truncate(f.c_str(), 16000 * block_bytes + 300), 0); }, 16000 * block_bytes, file_bytes,
         "64",
         "cut short: 16000 whole blocks of 16384, then 300 bytes of block 16000 (1048576300 of 1073741824 bytes); "
         "the rest is missing"},
        {[&] { ASSERT_EQ(truncate(f.c_str(), 16000 * block_bytes), 0); }, 16000 * block_bytes, file_bytes,
         "64",
         "cut short: 16000 whole blocks of 16384 (1048576000 of 1073741824 bytes); the rest is missing"},
        {[&] { ASSERT_EQ(std::rename(f.c_str(), (f + ".away").c_str()), 0); }, 0, 0, "64",
         std::string("cannot open: ") + (windows ? "File not found" : "No such file or directory")},
        {[] {}, 0, 0, "1024",
         "written with 64 KB blocks, not 1024 KB (its byte value first changes at byte 65536); read it with "
         "max-buf-KB 64"},
        // The limit of the pattern: block j+256 holds what block j does.
        {[&] { copy_block(f, 266, 10); }, 10 * block_bytes, 11 * block_bytes, "64", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        c.damage();
        ProcessResult result = read("B", c.kb);
        EXPECT_EQ(result.exit_status, c.line.empty() ? 0 : 1);
        EXPECT_EQ(result.err, c.line.empty() ? "" : "vorlax-read: " + f + ": " + c.line + "\n");
        EXPECT_EQ(lines_of(result.out).back(), "DONE!");
        std::rename((f + ".away").c_str(), f.c_str());
        repair(f, c.from, c.to);
    }
}

}  // namespace
