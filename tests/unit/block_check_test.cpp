// The reader's pure checks: the fast compare, what a bad block looks like,
// the block size a file was written with, and the note on cached pages.
#include "block_check/block_check.h"

#include <gtest/gtest.h>

#include <vector>

#include "notes/notes.h"
#include "reader_thread/reader_thread.h"

namespace {

TEST(BlockCheck, FirstMismatchWhereverAWordOrChunkPutsIt) {
    for (size_t bytes : {1u, 8u, 255u, 256u, 257u, 4099u})
        for (uint8_t value : {0x00, 0xFF}) {
            std::vector<unsigned char> data(bytes, value);
            EXPECT_EQ(first_mismatch(data.data(), bytes, value), bytes) << bytes;
            for (size_t at : {size_t{0}, size_t{7}, size_t{8}, size_t{255}, size_t{256}, bytes - 1}) {
                if (at >= bytes) continue;
                std::vector<unsigned char> bad = data;
                bad[at] ^= 0x80;
                bad[bytes - 1] ^= at + 1 < bytes ? 0x01 : 0x00;  // a later difference must not hide the first
                EXPECT_EQ(first_mismatch(bad.data(), bytes, value), at) << bytes << " bytes, at " << at;
            }
        }
}

TEST(BlockCheck, DamageKinds) {
    constexpr size_t n = 4096;
    const struct {
        size_t from, to;  // bytes [from, to) hold value; the rest the expected 0x0A
        uint8_t value;
        DamageKind kind;
        size_t bad_bytes;
        size_t change_or_distance;  // torn: where the value changes; other_block: the distance
    } cases[] = {
        {0, n, 0x0B, DamageKind::other_block, n, 1},      // block j+1 over j
        {0, n, 0x09, DamageKind::other_block, n, 255},    // block j-1 over j
        {0, n, 0x00, DamageKind::zero_run, n, 0},         // zeroed
        {1024, 3072, 0x00, DamageKind::zero_run, 2048, 0},
        // Zeros are a hole or trimmed range only over a whole aligned sector.
        {1000, 1001, 0x00, DamageKind::stray_bytes, 1, 0},
        {1000, 1535, 0x00, DamageKind::stray_bytes, 535, 0},
        {1000, 1536, 0x00, DamageKind::zero_run, 536, 0},
        {512, 1024, 0x00, DamageKind::zero_run, 512, 0},
        {n - 511, n, 0x00, DamageKind::stray_bytes, 511, 0},  // not torn either
        {512, n, 0x09, DamageKind::torn, n - 512, 512},   // new, then old
        {0, 3072, 0x07, DamageKind::torn, 3072, 3072},    // old, then new
        {100, 101, 0x0E, DamageKind::stray_bytes, 1, 0},
        {200, 200 + stray_bytes_limit, 0x33, DamageKind::stray_bytes, stray_bytes_limit, 0},
        {200, 201 + stray_bytes_limit, 0x33, DamageKind::mixed, stray_bytes_limit + 1, 0},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> data(n, 0x0A);
        std::fill(data.begin() + c.from, data.begin() + c.to, c.value);
        BlockDamage damage = classify_damage(data.data(), n, 0x0A);
        SCOPED_TRACE("bytes " + std::to_string(c.from) + " to " + std::to_string(c.to));
        EXPECT_EQ(damage.kind, c.kind);
        EXPECT_EQ(damage.first_offset, c.from);
        EXPECT_EQ(damage.bad_bytes, c.bad_bytes);
        if (c.kind == DamageKind::torn) { EXPECT_EQ(damage.change_offset, c.change_or_distance); }
        if (c.kind == DamageKind::other_block) { EXPECT_EQ(damage.distance, c.change_or_distance); }
    }
}

TEST(BlockCheck, WrittenBlockSizeFromTheFirstChange) {
    const struct {
        uint64_t change_offset;
        uint8_t value;
        int twice;
        uint32_t read_kb, written_kb;
    } cases[] = {
        {1 << 20, 1, 2, 64, 1024}, {64 << 10, 1, 2, 1024, 64}, {3 << 10, 1, -1, 64, 3}, {32768u << 10, 1, 2, 64, 32768},
        {64 << 10, 1, 2, 64, 0},    // the run's own size
        {128 << 10, 2, 4, 64, 0},   // block 1 lost: the first change goes to 2
        {1 << 20, 1, 7, 64, 0},     // block 2 does not follow
        {1000, 1, 2, 64, 0}, {32769u << 10, 1, 2, 64, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(written_block_kb(c.change_offset, c.value, c.twice, c.read_kb), c.written_kb) << c.change_offset;
    EXPECT_EQ(pages_stayed_note("vorlax-read", ""), "");
}

}  // namespace
