// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/codepage.h"

namespace sondrel {
namespace {

using Units = std::vector<std::uint8_t>;

std::vector<char32_t> DecodeAll(std::string_view s) {
    std::vector<char32_t> out;
    std::size_t pos = 0;
    while (pos < s.size())
        out.push_back(NextCodePoint(s, pos));
    return out;
}

std::string Hex(std::string_view s) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
        out += ' ';
    }
    return out;
}

constexpr char32_t R = kReplacementChar;

// Malformed input is replaced one byte at a time, so the decoder resumes on
// the next byte and never swallows a following valid character.
TEST(Unicode, NextCodePointDecodesAndRejectsMalformed) {
    struct Row {
        std::string utf8;
        std::vector<char32_t> expected;
    };
    const Row rows[] = {
        {"Az", {'A', 'z'}},
        {std::string("a\0b", 3), {'a', 0, 'b'}},
        {"\xC2\x80\xDF\xBF", {0x80, 0x7FF}},
        {"\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF", {0x800, 0x20AC, 0xFFFF}},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", {0x10000, 0x10FFFF}},
        {"\xEF\xBF\xBD", {R}},                      // a real U+FFFD is one character
        {"\xC0\xAF", {R, R}},                       // overlong '/'
        {"\xE0\x80\xAF", {R, R, R}},                // overlong '/' in three bytes
        {"\xF0\x8F\xBF\xBF", {R, R, R, R}},         // overlong U+FFFF
        {"\xED\xA0\x80", {R, R, R}},                // high surrogate
        {"\xED\xBF\xBF", {R, R, R}},                // low surrogate
        {"\xF4\x90\x80\x80", {R, R, R, R}},         // past U+10FFFF
        {"\xF8\x88\x80\x80\x80", {R, R, R, R, R}},  // five-byte form
        {"\xFF\xFE", {R, R}},
        {"\x80x", {R, 'x'}},   // stray continuation
        {"\xC3(", {R, '('}},   // missing continuation
        {"\xE2\x82", {R, R}},  // truncated at the end
        {"a\xF0\x9F\x8E", {'a', R, R, R}},
        {"\xE2\x82\xC3\xA9", {R, R, 0xE9}},  // truncated, then a valid character
    };
    for (const Row& r : rows)
        EXPECT_EQ(DecodeAll(r.utf8), r.expected) << Hex(r.utf8);
}

TEST(Unicode, AppendUtf8EncodesBoundariesAndRefusesNonCharacters) {
    struct Row {
        char32_t cp;
        std::string utf8;
    };
    const Row rows[] = {
        {0, std::string(1, '\0')},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
        {0xD800, "\xEF\xBF\xBD"},
        {0xDFFF, "\xEF\xBF\xBD"},
        {0x110000, "\xEF\xBF\xBD"},
        {0xFFFFFFFF, "\xEF\xBF\xBD"},
    };
    for (const Row& r : rows) {
        std::string out = "x";
        AppendUtf8(out, r.cp);
        EXPECT_EQ(out, "x" + r.utf8) << std::hex << static_cast<std::uint32_t>(r.cp);
    }
}

TEST(Unicode, Utf16ToUtf8PairsSurrogatesInBothByteOrders) {
    struct Row {
        Units bytes;
        bool bigEndian;
        std::string utf8;
    };
    const Row rows[] = {
        {{}, false, ""},
        {{'A', 0, 0xE9, 0}, false, "A\xC3\xA9"},
        {{0, 'A', 0, 0xE9}, true, "A\xC3\xA9"},
        {{0xAC, 0x20}, false, "\xE2\x82\xAC"},
        {{0x3C, 0xD8, 0xB5, 0xDF}, false, "\xF0\x9F\x8E\xB5"},  // U+1F3B5
        {{0xD8, 0x3C, 0xDF, 0xB5}, true, "\xF0\x9F\x8E\xB5"},
        {{0xFF, 0xDB, 0xFF, 0xDF}, false, "\xF4\x8F\xBF\xBF"},  // U+10FFFF
        {{0x3C, 0xD8}, false, "\xEF\xBF\xBD"},                  // high at the end
        {{0xD8, 0x3C, 0, 'A'},
         true,
         "\xEF\xBF\xBD"
         "A"},  // high, then no low
        {{0xB5, 0xDF, 'A', 0},
         false,
         "\xEF\xBF\xBD"
         "A"},                                                         // lone low
        {{0xDF, 0xB5, 0xD8, 0x3C}, true, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // pair reversed
        {{0xD8, 0x3C, 0xD8, 0x3C, 0xDF, 0xB5}, true, "\xEF\xBF\xBD\xF0\x9F\x8E\xB5"},
        {{'a', 0, 0, 0, 'b', 0}, false, std::string("a\0b", 3)},  // zero units are text
        {{'A', 0, 'B'}, false, "A"},                              // odd byte dropped
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Utf16ToUtf8(r.bytes.data(), r.bytes.size(), r.bigEndian), r.utf8)
            << Hex(r.utf8) << (r.bigEndian ? " BE" : " LE");
    }
}

TEST(Unicode, Utf8ToUtf16EncodesAndTerminates) {
    struct Row {
        std::string utf8;
        bool bigEndian;
        bool terminate;
        Units bytes;
    };
    const Row rows[] = {
        {"", false, false, {}},
        {"", true, true, {0, 0}},
        {"A", false, false, {'A', 0}},
        {"A", true, true, {0, 'A', 0, 0}},
        {"\xE2\x82\xAC", true, false, {0x20, 0xAC}},
        {"\xF0\x9F\x8E\xB5", false, true, {0x3C, 0xD8, 0xB5, 0xDF, 0, 0}},
        {"\xF0\x9F\x8E\xB5", true, false, {0xD8, 0x3C, 0xDF, 0xB5}},
        // Malformed input never reaches the output as a lone surrogate unit.
        {"\xED\xA0\x80", false, false, {0xFD, 0xFF, 0xFD, 0xFF, 0xFD, 0xFF}},
        {"\xC0\xAF", true, false, {0xFF, 0xFD, 0xFF, 0xFD}},
        {"\xE2\x82", false, true, {0xFD, 0xFF, 0xFD, 0xFF, 0, 0}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Utf8ToUtf16(r.utf8, r.bigEndian, r.terminate), r.bytes)
            << Hex(r.utf8) << (r.bigEndian ? " BE" : " LE") << (r.terminate ? " +0" : "");
    }
}

TEST(Unicode, ValidTextRoundTripsInBothByteOrders) {
    const std::string text =
        "plain \xC3\xA9t\xC3\xA9 \xD0\x9F\xD1\x80\xD0\xB8 \xE2\x82\xAC \xE6\x97\xA5"
        " \xF0\x9F\x8E\xB5 \xF4\x8F\xBF\xBF \xEF\xBF\xBD";
    for (bool bigEndian : {false, true}) {
        const Units units = Utf8ToUtf16(text, bigEndian, false);
        EXPECT_EQ(Utf16ToUtf8(units.data(), units.size(), bigEndian), text) << bigEndian;
    }
}

// The code page functions tell a malformed byte from a real U+FFFD even when
// the target can hold U+FFFD.
TEST(Unicode, CodePageCallersSeparateMalformedFromReplacementChar) {
    EXPECT_EQ(Utf8ToCodePage("\xEF\xBF\xBD\xC0\xAF", "UTF-8"), "\xEF\xBF\xBD??");
    EXPECT_TRUE(FitsCodePage("\xEF\xBF\xBD", "UTF-8"));
    EXPECT_FALSE(FitsCodePage("\xED\xA0\x80", "UTF-8"));
    EXPECT_EQ(Utf8Length("\xEF\xBF\xBD\xC0\xAF"), 3u);
}

}  // namespace
}  // namespace sondrel

namespace sondrel {
namespace {

TEST(Utf8Checks, PrefixAndSanitize) {
    struct Row {
        std::string in;
        std::size_t validPrefix;
        std::string sanitized;
    };
    const Row rows[] = {
        {"plain", 5, "plain"},
        {"caf\xC3\xA9", 5, "caf\xC3\xA9"},
        {"a\xFF"
         "b",
         1,
         "a\xEF\xBF\xBD"
         "b"},                                                          // stray byte
        {"\xC0\xAF/", 0, "\xEF\xBF\xBD\xEF\xBF\xBD/"},                  // overlong
        {"x\xED\xA0\x80", 1, "x\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
        {"\xEF\xBF\xBDok", 5, "\xEF\xBF\xBDok"},                        // a real U+FFFD is text
        {"ab\xE2\x82", 2, "ab\xEF\xBF\xBD\xEF\xBF\xBD"},                // cut short
    };
    for (const Row& r : rows) {
        EXPECT_EQ(ValidUtf8Prefix(r.in).size(), r.validPrefix) << r.in;
        EXPECT_EQ(IsValidUtf8(r.in), r.validPrefix == r.in.size()) << r.in;
        EXPECT_EQ(SanitizeUtf8(r.in), r.sanitized) << r.in;
    }
}

}  // namespace
}  // namespace sondrel
