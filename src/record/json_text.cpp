#include "record/json_text.h"

#include <cmath>

#include "output/output.h"

namespace {

// The length of the valid UTF-8 sequence that starts text[at], or 0.
size_t utf8_length(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    uint32_t low = 0;  // the smallest code point a sequence of that length may hold
    if (lead < 0x80) return 1;
    if ((lead & 0xe0) == 0xc0) length = 2, low = 0x80;
    else if ((lead & 0xf0) == 0xe0) length = 3, low = 0x800;
    else if ((lead & 0xf8) == 0xf0) length = 4, low = 0x10000;
    else return 0;
    if (at + length > text.size()) return 0;
    uint32_t point = lead & (0x7f >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80) return 0;
        point = point << 6 | (byte(at + i) & 0x3f);
    }
    if (point < low || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff)) return 0;
    return length;
}

}  // namespace

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const size_t length = utf8_length(text, at);
        if (length == 0) {
            out += format_text("\\u%04x", c);  // a stray byte, as the code point of its value
            ++at;
            continue;
        }
        if (length > 1) {
            out.append(text, at, length);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            out += format_text("\\u%04x", c);
        } else {
            out += static_cast<char>(c);
        }
        at += length;
    }
    return out + "\"";
}

std::string json_string_or_null(const std::string& text) { return text.empty() ? "null" : json_string(text); }

std::string json_number(double value, int decimals) {
    if (!std::isfinite(value)) return "null";
    std::string text = format_text("%.*f", decimals, value);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

std::string json_ms(uint64_t ns, bool zero_is_null) {
    if (ns == 0 && zero_is_null) return "null";
    return json_number(static_cast<double>(ns) / 1e6, 4);
}

std::string json_count(uint64_t value) { return format_text("%llu", static_cast<unsigned long long>(value)); }
