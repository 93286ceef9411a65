// What a block read back holds: a fast check against its pattern and, for
// the first bad block of a file, what the damage looks like. Pure.
#pragma once

#include <cstddef>
#include <cstdint>

// Offset of the first byte of data[0, bytes) that is not value, or bytes
// when every byte is. Compares a machine word at a time (vectorised by the
// compiler where the target allows), so it runs at memory speed.
size_t first_mismatch(const unsigned char* data, size_t bytes, uint8_t value);

enum class DamageKind {
    other_block,  // every byte holds one other value: another block's pattern
    zero_run,     // the bad bytes are one run of zeros over a whole sector
    torn,         // one value up to a point, another from there on
    stray_bytes,  // a few bytes differ, with no run among them
    mixed,        // none of the above
};

// At most this many differing bytes still count as stray.
constexpr size_t stray_bytes_limit = 64;
// The smallest range a hole or a trimmed range can be, aligned to it: a
// run of zeros that holds no whole sector is stray bytes (whatever its
// length), not a range the disk lost.
constexpr size_t zero_sector_bytes = 512;

struct BlockDamage {
    DamageKind kind;
    size_t first_offset;  // the first bad byte, from the block's start
    uint8_t found;        // the byte there
    uint8_t expected;     // the byte the whole block should hold
    size_t bad_bytes;     // bytes that differ (a zero run's length)
    bool bad_all_zero;    // every byte that differs is 0
    uint8_t distance;     // other_block: (found - expected) mod 256
    size_t change_offset; // torn: where the second value starts
    uint8_t before;       // torn: the value up to change_offset
    uint8_t after;        // torn: the value from change_offset on
};

// Describes a block of bytes (above 0) that does not hold expected
// throughout. The run of zeros wins over the other kinds when both fit; a
// run of zeros with no whole sector in it is stray_bytes.
BlockDamage classify_damage(const unsigned char* data, size_t bytes, uint8_t expected);

// The block size, in KB, that a file was written with, judged from the
// first change of byte value in it: at change_offset from 0 to
// value_at_change, and value_at_double the byte at twice that offset (-1
// beyond the end). Returns 0 unless the change goes from block 0's 0 to
// block 1's 1, block 2 holds 2 (or lies past the end), and the offset is a
// whole number of KB from 1 to the largest max-buf-KB other than read_kb.
uint32_t written_block_kb(uint64_t change_offset, uint8_t value_at_change, int value_at_double,
                          uint32_t read_kb);
