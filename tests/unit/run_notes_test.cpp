#include "notes/note_facts.h"
#include "test_file/test_file.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

constexpr uint64_t mb = 1ull << 20, gb = 1ull << 30;

TEST(RunNotes, FolderOfAPrefix) {
    const struct {
        const char* prefix;
        const char* folder;
    } cases[] = {
        {"run", "."},
        {"", "."},
        {"./", "."},
        {"/dev/shm/run", "/dev/shm"},
        {"/dev/shm/", "/dev/shm"},
        {"/run", "/"},
        {"a/b/c", "a/b"},
        {".\\", "."},
        {"\\run", "\\"},
        {"E:\\bench", "E:\\"},
        {"E:\\data\\bench", "E:\\data"},
        {"mixed/dir\\run", "mixed/dir"},
    };
    for (const auto& c : cases) EXPECT_EQ(prefix_folder(c.prefix), c.folder) << "prefix '" << c.prefix << "'";
}

TEST(RunNotes, WhichNotesARunGets) {
    const std::string memory_note =
        "vorlax: note: /dev/shm is memory-backed; these figures are memory speed, not a disk's\n";
    const std::string cache_note =
        "vorlax: note: the test files (2048 MB in all) fit in the memory available (8192 MB); these figures will "
        "show the page cache until it fills; mode U or a larger size measures the disk\n";
    const struct {
        bool buffered, memory_backed;
        uint64_t available_bytes, total_bytes;
        std::vector<std::string> notes;
    } cases[] = {
        // A memory-backed folder: that note alone, in either mode.
        {false, true, 8 * gb, 2 * gb, {memory_note}},
        {false, true, 0, 100 * gb, {memory_note}},
        {true, true, 8 * gb, 2 * gb, {memory_note}},
        {true, true, 8 * gb, 99 * 63 * gb, {memory_note}},
        {false, false, 8 * gb, 2 * gb, {}},
        // A disk behind the folder, mode B: whether the files fit.
        {true, false, 8 * gb, 2 * gb, {cache_note}},
        {true, false, 2 * gb, 2 * gb, {"vorlax: note: the test files (2048 MB in all) fit in the memory available "
                                       "(2048 MB); these figures will show the page cache until it fills; mode U "
                                       "or a larger size measures the disk\n"}},
        {true, false, 2 * gb - mb, 2 * gb, {}},
        // Memory unknown: no claim about it.
        {true, false, 0, 2 * gb, {}},
    };
    for (const auto& c : cases) {
        RunNoteFacts facts;
        facts.buffered = c.buffered;
        facts.folder = "/dev/shm";
        facts.memory_backed = c.memory_backed;
        facts.available_bytes = c.available_bytes;
        facts.total_bytes = c.total_bytes;
        EXPECT_EQ(run_notes(facts), c.notes)
            << (c.buffered ? "B" : "U") << " memory_backed=" << c.memory_backed << " available=" << c.available_bytes
            << " total=" << c.total_bytes;
    }
}

TEST(RunNotes, CompressingFileSystemsInBothModes) {
    const std::string shrinks = "every block is one repeated byte and shrinks to almost nothing, so these figures "
                                "show the compressor, not the disk; use a folder without compression\n";
    const struct {
        FolderCompression compression;
        std::string note;
    } cases[] = {
        {{CompressionKind::none, "btrfs", ""}, ""},
        {{CompressionKind::mount_option, "btrfs", "compress-force=zstd:3"},
         "vorlax: note: /mnt/c is on btrfs mounted with compress-force=zstd:3: " + shrinks},
        {{CompressionKind::folder_marked, "NTFS", ""}, "vorlax: note: /mnt/c is marked for compression: " + shrinks},
        {{CompressionKind::may_compress, "zfs", "zfs get compression tank/c"},
         "vorlax: note: /mnt/c is on zfs, which may compress: every block is one repeated byte and would shrink to "
         "almost nothing, so these figures would show the compressor, not the disk; check with: zfs get "
         "compression tank/c\n"},
    };
    for (const auto& c : cases)
        for (bool buffered : {false, true}) {
            RunNoteFacts facts;
            facts.program = "vorlax-read";
            facts.buffered = buffered;
            facts.folder = "/mnt/c";
            facts.compression = c.compression;
            facts.available_bytes = gb;  // the files do not fit: no page-cache note
            facts.total_bytes = 2 * gb;
            std::vector<std::string> expected;
            if (!c.note.empty()) expected.push_back("vorlax-read" + c.note.substr(6));
            EXPECT_EQ(run_notes(facts), expected) << c.compression.detail << (buffered ? " B" : " U");
        }
}

// A run refused on a memory-backed folder says what it would put there,
// what memory holds and what fits; the folder's own smaller size, a run
// that fits (counting what its files hold now) or unknown memory is no
// refusal.
TEST(RunNotes, ARunLargerThanMemoryIsRefusedWithWhatFits) {
    const auto facts = [](uint32_t threads, uint32_t max_gb, uint32_t processes, uint64_t room, uint64_t free,
                          uint64_t reused) {
        RunNoteFacts f;
        f.folder = "/dev/shm";
        f.memory_backed = true;
        f.file_bytes = max_gb * gb;
        f.thread_count = threads;
        f.max_gb = max_gb;
        f.processes = processes;
        f.total_bytes = uint64_t{threads} * processes * f.file_bytes;
        f.memory_room_bytes = room;
        f.folder_free_bytes = free;
        f.reused_bytes = reused;
        return f;
    };
    const std::string head = "vorlax: /dev/shm is memory-backed: this run would put ";
    const std::string why = " MB that memory can hold now (what is available, or what this process's memory cgroup "
                            "allows), and the system would kill processes to make room; use ";
    const struct {
        const char* what;
        RunNoteFacts facts;
        std::string line;
    } cases[] = {
        {"threads or GB", facts(4, 2, 1, 5 * gb, UINT64_MAX, 0),
         head + "8192 MB there (4 files), more than the 5120" + why +
             "at most 2 threads of 2 GB, or 4 threads of at most 1 GB, or a folder on a disk\n"},
        {"nothing fits", facts(2, 1, 1, gb / 2, 12 * gb, 0),
         head + "2048 MB there (2 files), more than the 512" + why + "a folder on a disk\n"},
        {"ranks of a host", facts(2, 1, 2, 5 * gb / 2, UINT64_MAX, 0),
         head + "4096 MB there (4 files of 2 ranks on this host), more than the 2560" + why +
             "at most 1 thread per rank of 1 GB, or a folder on a disk\n"},
        {"fits with its old files", facts(2, 1, 1, gb, UINT64_MAX, gb), ""},
        {"the folder is the smaller limit", facts(2, 1, 1, gb, gb / 2, 0), ""},
        {"memory unknown", facts(2, 1, 1, 0, UINT64_MAX, 0), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(memory_refusal_line(c.facts), c.line) << c.what;
    RunNoteFacts on_disk = facts(2, 1, 1, gb, UINT64_MAX, 0);
    on_disk.memory_backed = false;
    EXPECT_EQ(memory_refusal_line(on_disk), "");
}

}  // namespace

namespace {

// A prefix that names a folder: the files go beside it, and the note says
// how to write inside it, with the system's separator.
TEST(RunNotes, PrefixThatNamesAFolder) {
    RunNoteFacts facts;
    facts.prefix = "E:\\bench";
    facts.prefix_is_folder = true;
    facts.separator = "\\";
    const std::vector<std::string> notes = run_notes(facts);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "vorlax: note: E:\\bench is a folder, and the path is a prefix: the test files go beside "
                        "it, E:\\bench_00.BIN and on; to write inside it, end the path with \\ (E:\\bench\\)\n");
    // A path that needs quotes in cmd ends in / there, inside the quotes.
    facts.prefix = "E:\\my bench";
    EXPECT_NE(run_notes(facts)[0].find("end the path with / (\"E:\\my bench/\")\n"), std::string::npos);
    facts.prefix_is_folder = false;
    EXPECT_TRUE(run_notes(facts).empty());
}

// vorlax-read's notes on its page drop come after the folder's, the file
// whose pages could not be dropped before the one whose pages stayed.
TEST(RunNotes, ReadNotesOnThePageDropComeLast) {
    RunNoteFacts facts;
    facts.program = "vorlax-read";
    facts.folder = "/dev/shm";
    facts.memory_backed = true;
    facts.not_dropped_file = "/d/r_00.BIN";
    facts.drop_error = EIO;
    facts.stayed_file = "/d/r_01.BIN";
    const std::vector<std::string> notes = run_notes(facts);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[1], pages_not_dropped_note("vorlax-read", "/d/r_00.BIN", EIO));
    EXPECT_EQ(notes[2], pages_stayed_note("vorlax-read", "/d/r_01.BIN"));
    facts.stayed_hidden = true;
    EXPECT_EQ(run_notes(facts)[2], pages_stayed_note("vorlax-read", "/d/r_01.BIN", true));
}

// The note on pages that stayed says why, when known, and what to try.
TEST(RunNotes, PagesStayedSaysWhyAndWhatToTry) {
    const struct {
        bool hidden;
        const char* why;
    } cases[] = {
        {false, "stayed in memory after a flush and drop (mapped or busy elsewhere); "},
        {true, "may have stayed in memory after a flush and drop: this user neither owns it nor may write it"},
    };
    for (const auto& c : cases) {
        const std::string note = pages_stayed_note("vorlax-read", "/d/r_01.BIN", c.hidden);
        EXPECT_EQ(note.find("vorlax-read: note: the pages of /d/r_01.BIN " + std::string(c.why)), 0u) << note;
        EXPECT_NE(note.find("read with U, or drop the caches as root (echo 1 > /proc/sys/vm/drop_caches)\n"),
                  std::string::npos) << note;
        EXPECT_EQ(note.find("read as the file's owner or root") != std::string::npos, c.hidden) << note;
    }
    EXPECT_EQ(pages_stayed_note("vorlax-read", "", true), "");
}

// After a mode B write run cut short: a note when what it wrote fits in
// memory and the whole run would not have (that one is noted before).
TEST(RunNotes, EarlyEndNotesWhatTheCacheMayHaveTaken) {
    const struct {
        bool buffered, memory_backed;
        uint64_t available_mb, total_mb, written_mb;
        bool noted;
    } cases[] = {
        {true, false, 18944, 20480, 1434, true},
        {true, false, 18944, 20480, 18944, true},
        {true, false, 18944, 20480, 18945, false},  // more than the cache can take
        {true, false, 18944, 2048, 1434, false},    // noted before the run
        {true, false, 0, 20480, 1434, false},       // memory unknown
        {false, false, 18944, 20480, 1434, false},  // mode U
        {true, true, 18944, 20480, 1434, false},    // memory-backed: noted before the run
    };
    for (const auto& c : cases) {
        RunNoteFacts facts;
        facts.buffered = c.buffered;
        facts.memory_backed = c.memory_backed;
        facts.available_bytes = c.available_mb * mb;
        facts.total_bytes = c.total_mb * mb;
        const std::string note = early_end_cache_note(facts, c.written_mb * mb);
        EXPECT_EQ(!note.empty(), c.noted) << c.total_mb << " " << c.written_mb << " " << note;
    }
    RunNoteFacts facts;
    facts.buffered = true;
    facts.available_bytes = 18944 * mb;
    facts.total_bytes = 20480 * mb;
    EXPECT_EQ(early_end_cache_note(facts, 1434 * mb + 5),
              "vorlax: note: the run ended having written 1434 MB, less than the memory available (18944 MB); these "
              "figures may be memory speed, not the disk's; give more seconds or use mode U\n");
}

}  // namespace
