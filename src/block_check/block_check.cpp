#include "block_check/block_check.h"

#include <cstring>

#include "settings/settings.h"

size_t first_mismatch(const unsigned char* data, size_t bytes, uint8_t value) {
    // Chunks of 256 bytes: OR-ing the words' differences has no branch for
    // the compiler to keep, so it turns the inner loop into vector code.
    constexpr size_t chunk_bytes = 256;
    const uint64_t pattern = 0x0101010101010101ull * value;
    size_t at = 0;
    for (; at + chunk_bytes <= bytes; at += chunk_bytes) {
        uint64_t differ = 0;
        for (size_t i = 0; i < chunk_bytes; i += sizeof(uint64_t)) {
            uint64_t word;
            std::memcpy(&word, data + at + i, sizeof word);
            differ |= word ^ pattern;
        }
        if (differ) break;
    }
    for (; at < bytes; ++at)
        if (data[at] != value) return at;
    return bytes;
}

namespace {

// True when bytes [offset, offset + bytes) of a block hold a whole aligned
// sector: the least a hole or a trimmed range can be. Blocks start on a
// sector boundary, so offsets from the block's start will do.
bool covers_whole_sector(size_t offset, size_t bytes) {
    const size_t first_sector = (offset + zero_sector_bytes - 1) / zero_sector_bytes * zero_sector_bytes;
    return first_sector + zero_sector_bytes <= offset + bytes;
}

}  // namespace

BlockDamage classify_damage(const unsigned char* data, size_t bytes, uint8_t expected) {
    BlockDamage damage{};
    damage.expected = expected;
    damage.first_offset = first_mismatch(data, bytes, expected);
    damage.found = data[damage.first_offset];

    size_t last_bad = damage.first_offset;
    bool bad_all_zero = true;
    for (size_t i = damage.first_offset; i < bytes; ++i)
        if (data[i] != expected) {
            ++damage.bad_bytes;
            last_bad = i;
            bad_all_zero = bad_all_zero && data[i] == 0;
        }
    const bool one_run = last_bad - damage.first_offset + 1 == damage.bad_bytes;
    damage.bad_all_zero = bad_all_zero;

    const size_t change = first_mismatch(data, bytes, data[0]);
    if (change == bytes) {
        damage.kind = data[0] == 0 ? DamageKind::zero_run : DamageKind::other_block;
        damage.distance = static_cast<uint8_t>(data[0] - expected);
    } else if (bad_all_zero && one_run) {
        damage.kind = covers_whole_sector(damage.first_offset, damage.bad_bytes) ? DamageKind::zero_run
                                                                                 : DamageKind::stray_bytes;
    } else if (first_mismatch(data + change, bytes - change, data[change]) == bytes - change &&
               (data[0] == expected || data[change] == expected)) {
        damage.kind = DamageKind::torn;
        damage.change_offset = change;
        damage.before = data[0];
        damage.after = data[change];
    } else {
        damage.kind = damage.bad_bytes <= stray_bytes_limit ? DamageKind::stray_bytes : DamageKind::mixed;
    }
    return damage;
}

uint32_t written_block_kb(uint64_t change_offset, uint8_t value_at_change, int value_at_double,
                          uint32_t read_kb) {
    if (change_offset == 0 || change_offset % 1024 != 0 || change_offset > (uint64_t{largest_buffer_kb()} << 10)) return 0;
    if (value_at_change != 1 || (value_at_double != 2 && value_at_double != -1)) return 0;
    const auto kb = static_cast<uint32_t>(change_offset / 1024);
    return kb == read_kb ? 0 : kb;
}
