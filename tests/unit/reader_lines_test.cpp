// vorlax-read's line on stderr for each kind of file it may meet, and its
// last progress line, through the scripted platform layer: no file, no
// clock the test depends on.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "monitor/monitor.h"
#include "platform/platform.h"
#include "notes/notes.h"
#include "reader_thread/reader_thread.h"
#include "test_file/test_file.h"

namespace {

const std::string head = "vorlax-read: /d/r_00.BIN: ";

ReaderLayout layout_of(uint32_t buffer_kb, uint32_t max_gb) {
    return ReaderLayout{0, "/d/r_00.BIN", test_file_block_count(max_gb, buffer_kb), buffer_kb, false, max_gb, {"vorlax-read: "}};
}

uint64_t run_bytes(uint32_t buffer_kb, uint32_t max_gb) {
    return static_cast<uint64_t>(test_file_block_count(max_gb, buffer_kb)) * buffer_kb * 1024u;
}

ReaderReport open_failure(int error) {
    ReaderReport report;
    report.result = ReaderResult::open_failed;
    report.error = error;
    return report;
}

ReaderReport sized(uint64_t file_bytes, uint32_t written_kb, int64_t blocks_read);

// A clean-length report at 4 KB whose block 5 holds 5 but for the bytes
// given (offset, value).
ReaderReport with_bad_block_5(const std::vector<std::pair<size_t, unsigned char>>& bytes) {
    ReaderReport report = sized(run_bytes(4, 1), 0, 262144);
    report.bad_blocks = 1;
    report.first_bad_block = 5;
    std::vector<unsigned char> block(4096, 5);
    for (const auto& byte : bytes) block[byte.first] = byte.second;
    report.first_damage = classify_damage(block.data(), block.size(), 5);
    return report;
}

ReaderReport sized(uint64_t file_bytes, uint32_t written_kb, int64_t blocks_read) {
    ReaderReport report;
    report.file_bytes = file_bytes;
    report.written_kb = written_kb;
    report.blocks_read = blocks_read;
    return report;
}

TEST(ReaderLines, OpenAndLengthProblemsSayWhatToTry) {
    const std::string again =
        "; read again to tell a lasting fault from a passing one: one that stays is on the disk (write the file "
        "again and read it: the same blocks bad again point at the device), one that goes came on the way (memory, "
        "cable, controller)";
    const struct {
        const char* what;
        ReaderLayout layout;
        ReaderReport report;
        std::string line;
    } cases[] = {
        {"a folder in the file's place", layout_of(64, 1), open_failure(EISDIR),
         head + "is a folder, not a test file; give the path prefix the files were written with"},
        {"a FIFO in the file's place", layout_of(64, 1), open_failure(ESPIPE),
         head + "is a FIFO, not a test file; give the path prefix the files were written with"},
        {"missing", layout_of(64, 1), open_failure(ENOENT),
         head + "cannot open: No such file or directory; vorlax-read takes the arguments that wrote the files: the "
                "same path prefix (here /d/r), block size and max-GB"},
        {"not readable", layout_of(64, 1), open_failure(EACCES),
         head + "cannot open: Permission denied; check that this user may read it"},
        // Written at 64 KB, read at 3: its length is right for 64 KB blocks.
        {"other block size, whole", layout_of(3, 1), sized(run_bytes(64, 1), 64, 0),
         head + "written with 64 KB blocks, not 3 KB (its byte value first changes at byte 65536); read it with "
                "max-buf-KB 64"},
        // Written at 3000 KB, read at 1024: 357 whole blocks of 3000 KB.
        {"other block size, larger", layout_of(1024, 1), sized(run_bytes(3000, 1), 3000, 0),
         head + "written with 3000 KB blocks, not 1024 KB (its byte value first changes at byte 3072000); read it "
                "with max-buf-KB 3000"},
        {"other block size, cut short", layout_of(3, 1), sized(65536 + 100, 64, 0),
         head + "written with 64 KB blocks, not 3 KB (its byte value first changes at byte 65536); read it with "
                "max-buf-KB 64; cut short: 1 whole block of 16384, then 100 bytes of block 1 (65636 of 1073741824 "
                "bytes); the rest is missing: the writing stopped early (a full disk? a failed run?) or the file "
                "was cut later; write it again"},
        {"a smaller max-GB", layout_of(64, 3), sized(run_bytes(64, 2), 0, 32768),
         head + "shorter than this run's 49152 blocks: 2147483648 bytes where 3221225472 belong, the length of a "
                "file of max-GB 2 (written with a smaller max-GB? read it with max-GB 2)"},
        {"a larger max-GB", layout_of(64, 1), sized(run_bytes(64, 2), 0, 16384),
         head + "longer than this run's 16384 blocks: 2147483648 bytes where 1073741824 belong; the bytes past "
                "them were not checked (written with a larger max-GB? read it with max-GB 2)"},
        {"one byte, zero", layout_of(4, 1), with_bad_block_5({{1000, 0}}),
         head + "1 bad block of 262144 read; the first is block 5 at byte 20480: found 0x00 at byte 21480, expected "
                "0x05; 1 stray byte in it: bit rot, or a fault in memory or on the way" + again},
        {"three bytes, the first zero", layout_of(4, 1), with_bad_block_5({{1000, 0}, {1001, 0xFF}, {3000, 0}}),
         head + "1 bad block of 262144 read; the first is block 5 at byte 20480: found 0x00 at byte 21480, expected "
                "0x05; 3 stray bytes in it: bit rot, or a fault in memory or on the way" + again},
        {"a zero run short of a sector", layout_of(4, 1), with_bad_block_5({{1000, 0}, {1001, 0}}),
         head + "1 bad block of 262144 read; the first is block 5 at byte 20480: found 0x00 at byte 21480, expected "
                "0x05; 2 stray bytes in it, all zero but less than a whole sector: bit rot, or a fault in memory or "
                "on the way" + again},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(describe_reader_problems(c.layout, c.report), c.line);
    }
}

// The record's result: the first fault in the order a reader meets them,
// "completed" only for a whole, right file (or one a stop cut short).
TEST(ReaderLines, EachFaultHasItsResultInTheRecord) {
    ReaderReport unreadable = sized(run_bytes(4, 1), 0, 262143), refused = sized(run_bytes(4, 1), 0, 0),
                 holes = sized(run_bytes(4, 1), 0, 262144), stopped = sized(run_bytes(4, 1), 0, 10),
                 stopped_bad = with_bad_block_5({{1000, 0}}), unreadable_bad = with_bad_block_5({{1000, 0}});
    unreadable.unreadable_blocks = unreadable_bad.unreadable_blocks = 1;
    refused.refused = true;
    holes.hole_count = 1;
    stopped.stopped = stopped_bad.stopped = true;
    const struct {
        const char* what;
        ReaderLayout layout;
        ReaderReport report;
        const char* result;
    } cases[] = {
        {"missing", layout_of(4, 1), open_failure(ENOENT), "open_failed"},
        {"whole and right", layout_of(4, 1), sized(run_bytes(4, 1), 0, 262144), "completed"},
        {"a bad block", layout_of(4, 1), with_bad_block_5({{1000, 0}}), "bad_blocks"},
        {"a hole", layout_of(4, 1), holes, "bad_blocks"},
        {"another block size", layout_of(3, 1), sized(run_bytes(64, 1), 64, 0), "bad_blocks"},
        {"an unreadable block", layout_of(4, 1), unreadable, "read_failed"},
        {"unreadable and bad", layout_of(4, 1), unreadable_bad, "read_failed"},
        {"refused", layout_of(4, 1), refused, "read_failed"},
        {"shorter", layout_of(64, 3), sized(run_bytes(64, 2), 0, 32768), "wrong_length"},
        {"longer", layout_of(64, 1), sized(run_bytes(64, 2), 0, 16384), "wrong_length"},
        {"stopped early", layout_of(4, 1), stopped, "completed"},
        {"stopped after a bad block", layout_of(4, 1), stopped_bad, "bad_blocks"},
    };
    for (const auto& c : cases) EXPECT_STREQ(reader_result_name(c.layout, c.report), c.result) << c.what;
}

// Holes are damage whatever the pattern: block 0's hole reads as its own
// zeros, blocks 256 and 257 as block 256's zeros and a bad block 257.
TEST(ReaderLines, HolesAreReportedWithTheirBlocks) {
    const struct {
        std::vector<std::pair<uint64_t, uint64_t>> holes;
        int64_t bad_blocks;
        std::string line;
    } cases[] = {
        {{{0, 4096}}, 0,
         "1 hole, where the file system keeps no data and reads return zeros (a file vorlax wrote has none), in "
         "block 0: punched or made sparse after the writing (fallocate --punch-hole, a sparse copy), or data the "
         "file system lost; write the file again"},
        {{{0, 4096}, {256 * 4096, 258 * 4096}, {280 * 4096, 280 * 4096 + 512}, {290 * 4096, 291 * 4096},
          {299 * 4096, 300 * 4096}},
         4,
         "5 holes, where the file system keeps no data and reads return zeros (a file vorlax wrote has none), in "
         "block 0, blocks 256 to 257, block 280, block 290 and 1 more: punched or made sparse after the writing "
         "(fallocate --punch-hole, a sparse copy), or data the file system lost; write the file again; 4 bad "
         "blocks of 300 read; the first is block 257"},
    };
    for (const auto& c : cases) {
        FakeScript script;
        script.read_file_bytes = 300 * 4096;
        script.holes = c.holes;
        fake_reset(script);
        RunCounters counters;
        const ReaderLayout layout{0, "/d/r_00.BIN", 300, 4, true, 1, {"vorlax-read: "}};
        testing::internal::CaptureStdout();
        ReaderReport report = read_test_file(layout, &counters);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(report.hole_count, static_cast<int64_t>(c.holes.size()));
        EXPECT_EQ(report.bad_blocks, c.bad_blocks);
        EXPECT_FALSE(reader_report_clean(layout, report));
        const std::string line = describe_reader_problems(layout, report);
        EXPECT_EQ(line.substr(0, head.size() + c.line.size()), head + c.line) << line;
    }
}

// The monitor against a run whose workers all ended before its first look:
// vorlax-read still prints the total, vorlax keeps to no line.
struct ScriptedRun {
    std::vector<MonitorTotals> samples;  // in order; the last repeats
    size_t next = 0;
    std::vector<std::string> lines;
};

MonitorSource scripted_source(ScriptedRun* run) {
    return MonitorSource{
        run, [](void*, uint64_t) {},
        [](void* context) {
            auto* r = static_cast<ScriptedRun*>(context);
            return r->samples[std::min(r->next++, r->samples.size() - 1)];
        },
        [](void* context, const std::string& line) { static_cast<ScriptedRun*>(context)->lines.push_back(line); },
        "read"};
}

TEST(ReaderLines, LastProgressLineCarriesTheTotalHoweverFastTheThreadsEnd) {
    const struct {
        std::vector<MonitorTotals> samples;
        bool line_if_counted;
        std::vector<std::string> mb;  // the MB figure of each line
    } cases[] = {
        {{{false, 1u << 20}}, true, {"1024"}},          // ended before the first look
        {{{false, 1u << 20}}, false, {}},               // vorlax's rule: no line
        {{{false, 0}}, true, {}},                       // nothing counted: no line
        {{{true, 0}, {true, 512}, {false, 3u << 20}}, true, {"0", "3072"}},
        {{{true, 0}, {false, 3u << 20}}, false, {"3072"}},
    };
    for (const auto& c : cases) {
        fake_reset(FakeScript{});
        ScriptedRun run{c.samples, 0, {}};
        MonitorTotals last = run_monitor(scripted_source(&run), tick_ms(), c.line_if_counted);
        EXPECT_FALSE(last.running);
        ASSERT_EQ(run.lines.size(), c.mb.size());
        for (size_t i = 0; i < c.mb.size(); ++i)
            EXPECT_NE(run.lines[i].find(" " + c.mb[i] + " MB read,"), std::string::npos) << run.lines[i];
    }
}

// A drop that failed is said as the pages that stayed are, with what the
// name is when it is no file.
TEST(ReaderLines, APageDropThatFailedIsNoted) {
    const std::string tail = "); these figures may be memory speed, not the disk's\n";
    EXPECT_EQ(pages_not_dropped_note("vorlax-read", "/d/r_00.BIN", EIO),
              "vorlax-read: note: the cached pages of /d/r_00.BIN could not be dropped (Input/output error" + tail);
    EXPECT_EQ(pages_not_dropped_note("vorlax-read", "/d/r_00.BIN", ESPIPE),
              "vorlax-read: note: the cached pages of /d/r_00.BIN could not be dropped (it is a FIFO" + tail);
    EXPECT_EQ(pages_not_dropped_note("vorlax-read", "", EIO), "");
}

}  // namespace
