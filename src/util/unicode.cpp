// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/unicode.h"

namespace sondrel {
namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

constexpr bool IsSurrogate(char32_t cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}

void PutUnit(std::vector<std::uint8_t>& out, char32_t unit, bool bigEndian) {
    const auto hi = static_cast<std::uint8_t>(unit >> 8);
    const auto lo = static_cast<std::uint8_t>(unit);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (IsSurrogate(cp) || cp > kMaxCodePoint)
        cp = kReplacementChar;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t NextCodePoint(std::string_view s, std::size_t& pos) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    std::size_t len = 0;
    char32_t cp = 0;
    if (b0 < 0x80) {
        ++pos;
        return b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        cp = b0 & 0x1F;
        len = 2;
    } else if ((b0 & 0xF0) == 0xE0) {
        cp = b0 & 0x0F;
        len = 3;
    } else if ((b0 & 0xF8) == 0xF0) {
        cp = b0 & 0x07;
        len = 4;
    } else {
        ++pos;
        return kReplacementChar;
    }
    if (len > s.size() - pos) {
        ++pos;
        return kReplacementChar;
    }
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return kReplacementChar;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms ("\xC0\xAF" for '/'), surrogates and values past U+10FFFF
    // are malformed: decoding them would smuggle ASCII such as path separators.
    constexpr char32_t kMinForLength[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinForLength[len] || IsSurrogate(cp) || cp > kMaxCodePoint) {
        ++pos;
        return kReplacementChar;
    }
    pos += len;
    return cp;
}

std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t bytes, bool bigEndian) {
    const std::size_t units = bytes / 2;
    auto unit = [&](std::size_t i) -> char32_t {
        const std::uint8_t a = data[2 * i], b = data[2 * i + 1];
        return bigEndian ? char32_t(a << 8 | b) : char32_t(b << 8 | a);
    };
    std::string out;
    out.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        // AppendUtf8 turns the lone surrogate into U+FFFD.
        AppendUtf8(out, u);
    }
    return out;
}

std::vector<std::uint8_t> Utf8ToUtf16(std::string_view utf8, bool bigEndian, bool terminate) {
    std::vector<std::uint8_t> out;
    out.reserve(2 * utf8.size() + (terminate ? 2 : 0));
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = NextCodePoint(utf8, pos);
        if (cp >= 0x10000) {
            PutUnit(out, 0xD800 + ((cp - 0x10000) >> 10), bigEndian);
            PutUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF), bigEndian);
        } else {
            PutUnit(out, cp, bigEndian);
        }
    }
    if (terminate)
        PutUnit(out, 0, bigEndian);
    return out;
}

std::string_view ValidUtf8Prefix(std::string_view s) {
    std::size_t pos = 0;
    while (pos < s.size()) {
        const std::size_t start = pos;
        if (NextCodePoint(s, pos) == kReplacementChar && pos - start == 1)
            return s.substr(0, start);
    }
    return s;
}

std::string SanitizeUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t pos = 0;
    while (pos < s.size()) {
        const std::size_t start = pos;
        const char32_t cp = NextCodePoint(s, pos);
        if (cp == kReplacementChar && pos - start == 1)
            AppendUtf8(out, kReplacementChar);
        else
            out.append(s.substr(start, pos - start));
    }
    return out;
}

}  // namespace sondrel
