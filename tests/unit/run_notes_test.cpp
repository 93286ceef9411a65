#include "main/run_notes.h"

#include <gtest/gtest.h>

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

}  // namespace
