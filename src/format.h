// Text forms shared by reprs and messages. No Python here.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

#include "unprintable_table.h"

namespace talvo {

// Shortest decimal that reads back to the same double, positional (never an
// exponent), no fractional part when integral: 1.0 -> "1", -0.0 -> "-0",
// 1e-7 -> "0.0000001"; NaN, inf, -inf as such.
inline std::string format_float(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    // The shortest digits come from the scientific form; "fixed" alone would
    // pick the exact digits of a large integer (1e23 -> 99999999999999991611392).
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
    std::size_t e_at = sci.find('e');
    int exp10 = std::stoi(std::string(sci.substr(e_at + 1)));
    std::string out;
    std::string digits;
    for (char c : sci.substr(0, e_at)) {
        if (c == '-') out += '-';
        else if (c != '.') digits += c;
    }
    // The value is 0.digits times 10^(exp10 + 1).
    if (exp10 < 0) return out + "0." + std::string(static_cast<std::size_t>(-exp10 - 1), '0') + digits;
    std::size_t int_len = static_cast<std::size_t>(exp10) + 1;
    if (digits.size() <= int_len) return out + digits + std::string(int_len - digits.size(), '0');
    return out + digits.substr(0, int_len) + "." + digits.substr(int_len);
}

// Fixed point with `digits` decimals, rounded from the exact binary value to
// nearest, ties to even; never an exponent.
inline std::string format_fixed(double v, int digits) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, digits);
    return std::string(buf, r.ptr);
}

namespace detail {
// Decodes one UTF-8 sequence (input is valid UTF-8 from the interpreter).
inline char32_t next_code_point(std::string_view s, std::size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i++]);
    if (c < 0x80) return c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    char32_t cp = c & (0x3F >> extra);
    for (int k = 0; k < extra && i < s.size(); ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
    return cp;
}

// Characters written as \u{...}: controls, format characters, separators
// other than the space, surrogates, private use and unassigned code points.
inline bool is_unprintable(char32_t cp) {
    std::size_t lo = 0, hi = std::size(kUnprintable);
    while (lo < hi) {  // the first range whose end is at or after cp
        std::size_t mid = (lo + hi) / 2;
        if (kUnprintable[mid][1] < cp) lo = mid + 1; else hi = mid;
    }
    return lo < std::size(kUnprintable) && kUnprintable[lo][0] <= cp;
}
}  // namespace detail

// The quoted form of a label: double quotes around it, backslash before a
// double quote or backslash, \t \r \n \0 for those controls, \u{hex} for other
// unprintable characters, everything else (single quote included) unchanged.
inline std::string quote(std::string_view s) {
    std::string out = "\"";
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t start = i;
        char32_t cp = detail::next_code_point(s, i);
        switch (cp) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\t': out += "\\t"; continue;
            case '\r': out += "\\r"; continue;
            case '\n': out += "\\n"; continue;
            case 0: out += "\\0"; continue;
            default: break;
        }
        if (detail::is_unprintable(cp)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
            out += buf;
        } else {
            out.append(s.substr(start, i - start));
        }
    }
    out += '"';
    return out;
}

}  // namespace talvo
