// The pieces of JSON text a run record is made of. Pure.
#pragma once

#include <cstdint>
#include <string>

// text as a JSON string, quotes included: '"' and '\\' escaped, control
// characters as \n, \t... or \u00XX, and a byte that is not part of valid
// UTF-8 (a Linux file name may hold any) as the code point of its value, so
// that the record is always valid UTF-8.
std::string json_string(const std::string& text);

// text as a JSON string, or null when it is empty.
std::string json_string_or_null(const std::string& text);

// value with up to decimals digits after the point, trailing zeros (and a
// bare point) dropped: 1.5, 2, 0.0413. null for a value that is not finite.
std::string json_number(double value, int decimals);

// A time in nanoseconds as milliseconds to 0.0001 ms, or null for 0 when
// zero_is_null.
std::string json_ms(uint64_t ns, bool zero_is_null);

// An unsigned count.
std::string json_count(uint64_t value);
