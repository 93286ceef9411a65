// The reader's pure checks: the fast compare, what a bad block looks like,
// the block size a file was written with, and the note on cached pages.
#include "reader_thread/block_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader_thread/reader_thread.h"

namespace {

std::vector<unsigned char> block_of(size_t bytes, uint8_t value) { return std::vector<unsigned char>(bytes, value); }

TEST(BlockCheck, FirstMismatchAtEveryPlaceAWordOrChunkCanPutIt) {
    for (size_t bytes : {1u, 7u, 8u, 255u, 256u, 257u, 4099u, 65536u})
        for (uint8_t value : {0x00, 0x05, 0xFF}) {
            std::vector<unsigned char> data = block_of(bytes, value);
            EXPECT_EQ(first_mismatch(data.data(), bytes, value), bytes) << bytes;
            for (size_t at : {size_t{0}, size_t{7}, size_t{8}, size_t{255}, size_t{256}, size_t{263}, bytes - 1}) {
                if (at >= bytes) continue;
                std::vector<unsigned char> bad = data;
                bad[at] ^= 0x80;
                if (at + 1 < bytes) bad[bytes - 1] ^= 0x01;  // a later difference must not hide the first
                EXPECT_EQ(first_mismatch(bad.data(), bytes, value), at) << bytes << " bytes, at " << at;
            }
        }
}

TEST(BlockCheck, DamageKinds) {
    constexpr size_t n = 4096;
    const struct {
        const char* label;
        size_t from, to;  // bytes [from, to) hold value; the rest holds 0x0A
        uint8_t value;
        DamageKind kind;
        size_t first_offset, bad_bytes, change_offset;
        uint8_t distance;
    } cases[] = {
        {"block j+1 over j", 0, n, 0x0B, DamageKind::other_block, 0, n, 0, 1},
        {"block j-1 over j", 0, n, 0x09, DamageKind::other_block, 0, n, 0, 255},
        {"whole block zeroed", 0, n, 0x00, DamageKind::zero_run, 0, n, 0, 0xF6},
        {"zeros inside", 1024, 3072, 0x00, DamageKind::zero_run, 1024, 2048, 0, 0},
        {"zeros to the end", 2048, n, 0x00, DamageKind::zero_run, 2048, 2048, 0, 0},
        {"new, then old", 512, n, 0x09, DamageKind::torn, 512, n - 512, 512, 0},
        {"old, then new", 0, 3072, 0x07, DamageKind::torn, 0, 3072, 3072, 0},
        {"one stray byte", 100, 101, 0x0E, DamageKind::stray_bytes, 100, 1, 0, 0},
        {"stray run at the limit", 200, 200 + stray_bytes_limit, 0x33, DamageKind::stray_bytes, 200,
         stray_bytes_limit, 0, 0},
        {"past the limit", 200, 201 + stray_bytes_limit, 0x33, DamageKind::mixed, 200, stray_bytes_limit + 1, 0, 0},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> data = block_of(n, 0x0A);
        std::fill(data.begin() + c.from, data.begin() + c.to, c.value);
        BlockDamage damage = classify_damage(data.data(), n, 0x0A);
        EXPECT_EQ(damage.kind, c.kind) << c.label;
        EXPECT_EQ(damage.first_offset, c.first_offset) << c.label;
        EXPECT_EQ(damage.bad_bytes, c.bad_bytes) << c.label;
        EXPECT_EQ(damage.found, data[c.first_offset]) << c.label;
        if (c.kind == DamageKind::torn) {
            EXPECT_EQ(damage.change_offset, c.change_offset) << c.label;
        }
        if (c.kind == DamageKind::other_block) {
            EXPECT_EQ(damage.distance, c.distance) << c.label;
        }
    }
    // Two stray bytes apart from each other are no run, even when zero.
    std::vector<unsigned char> data = block_of(n, 0x0A);
    data[10] = data[20] = 0;
    EXPECT_EQ(classify_damage(data.data(), n, 0x0A).kind, DamageKind::stray_bytes);
}

TEST(BlockCheck, WrittenBlockSizeFromTheFirstChange) {
    const struct {
        uint64_t change_offset;
        uint8_t value;
        int twice;
        uint32_t read_kb, expected_kb;
    } cases[] = {
        {1 << 20, 1, 2, 64, 1024},  {64 << 10, 1, 2, 1024, 64}, {3 << 10, 1, -1, 64, 3},
        {32768u << 10, 1, 2, 64, 32768},
        {64 << 10, 1, 2, 64, 0},    // the run's own size
        {128 << 10, 2, 4, 64, 0},   // block 1 lost: the first change goes to 2
        {1 << 20, 1, 7, 64, 0},     // block 2 does not follow
        {1000, 1, 2, 64, 0},        // not whole KB
        {(32769u << 10), 1, 2, 64, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(written_block_kb(c.change_offset, c.value, c.twice, c.read_kb), c.expected_kb) << c.change_offset;
}

TEST(BlockCheck, NoteOnlyWherePagesStayedCached) {
    EXPECT_EQ(pages_stayed_note("/data/r_00.BIN"),
              "vorlax-read: note: the pages of /data/r_00.BIN stayed in memory after a flush and drop; these "
              "figures may be memory speed, not the disk's\n");
    EXPECT_EQ(pages_stayed_note(""), "");
}

}  // namespace
