// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/codepage.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace sondrel {
namespace {

struct Row {
    const char* codepage;
    std::string utf8;
    std::string bytes;
};

// Characters every one of these code pages holds, in both directions.
TEST(CodePage, RoundTrips) {
    const Row rows[] = {
        {"ISO-8859-1", "plain ASCII 123", "plain ASCII 123"},
        {"ISO-8859-1", "café ÿ ß ©", "caf\xE9 \xFF \xDF \xA9"},
        {"ISO-8859-1", "\u00A0\u0080", "\xA0\x80"},  // C1 controls are defined here
        {"windows-1252", "€ “quoted” Œ ž", "\x80 \x93quoted\x94 \x8C \x9E"},
        {"windows-1252", "café", "caf\xE9"},
        {"windows-1251", "Привет", "\xCF\xF0\xE8\xE2\xE5\xF2"},
        {"windows-1251", "Ёё Іі Її Єє Ґґ", "\xA8\xB8 \xB2\xB3 \xAF\xBF \xAA\xBA \xA5\xB4"},
        {"windows-1251", "№ € «»", "\xB9 \x88 \xAB\xBB"},
        {"windows-1251", "АЯая", "\xC0\xDF\xE0\xFF"},
        {"ISO-8859-1", "", ""},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Utf8ToCodePage(r.utf8, r.codepage), r.bytes) << r.codepage << " " << r.utf8;
        EXPECT_EQ(CodePageToUtf8(r.bytes, r.codepage), r.utf8) << r.codepage << " " << r.utf8;
        EXPECT_TRUE(FitsCodePage(r.utf8, r.codepage)) << r.codepage << " " << r.utf8;
    }
}

// Every code page a user can choose is one the conversions really know: a
// misspelt name would fall back to ISO-8859-1 and turn the script into '?'.
TEST(CodePage, EveryOfferedCodePageHoldsItsScript) {
    const std::map<std::string_view, std::string> samples = {
        {"ISO-8859-1", "café"},
        {"windows-1250", "Łódź"},
        {"windows-1251", "Привет"},
        {"windows-1252", "€ Œ"},
        {"windows-1253", "Αθήνα"},
        {"windows-1254", "İstanbul ğ"},
        {"windows-1256", "سلام"},
        {"windows-1257", "Rīga ų"},
        {"KOI8-R", "Привет"},
        {"KOI8-U", "Київ ґ"},
        {"ISO-8859-2", "Łódź"},
        {"ISO-8859-5", "Привет"},
        {"ISO-8859-7", "Αθήνα"},
        {"ISO-8859-9", "İstanbul ğ"},
        // Hebrew with points: glibc's decoder holds each letter back to see
        // whether a point follows, so a byte-at-a-time reading lost letters.
        {"windows-1255", "שָׁנָה עִם"},
        // Double-byte pages: the second byte of "ソ" is 0x5C, the backslash.
        {"CP932", "東京の夜 ソ\\"},
        {"GBK", "北京 音乐"},
        {"BIG5", "台北 音樂"},
        {"EUC-KR", "서울 음악"},
    };
    EXPECT_EQ(kLegacyCodePages.front(), kDefaultCodePage);
    for (const std::string_view page : kLegacyCodePages) {
        const auto sample = samples.find(page);
        ASSERT_NE(sample, samples.end()) << "no sample for " << page;
        const std::string bytes = Utf8ToCodePage(sample->second, page);
        EXPECT_EQ(bytes.find('?'), std::string::npos) << page;
        EXPECT_EQ(CodePageToUtf8(bytes, page), sample->second) << page;
        EXPECT_TRUE(FitsCodePage(sample->second, page)) << page;
    }
}

// One '?' per character the code page cannot hold, and per malformed byte.
TEST(CodePage, UnmappableBecomesQuestionMark) {
    const Row rows[] = {
        {"ISO-8859-1", "Привет.", "??????."},
        {"ISO-8859-1", "5 €", "5 ?"},
        {"windows-1251", "café", "caf?"},
        {"windows-1252", "Ж", "?"},
        {"ISO-8859-1", "a😀b", "a?b"},
        {"ISO-8859-1", "a\xC3", "a?"},               // truncated sequence
        {"ISO-8859-1", "\xFF\xFE", "??"},            // bytes that never start a character
        {"ISO-8859-1", "\xC3(", "?("},               // lead byte without continuation
        {"ISO-8859-1", "\xC0\xAF", "??"},            // overlong "/" must not become a slash
        {"ISO-8859-1", "\xE0\x80\xAE", "???"},       // overlong "."
        {"ISO-8859-1", "\xED\xA0\x80", "???"},       // UTF-16 surrogate
        {"ISO-8859-1", "\xF4\x90\x80\x80", "????"},  // above U+10FFFF
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Utf8ToCodePage(r.utf8, r.codepage), r.bytes) << r.codepage << " " << r.utf8;
        EXPECT_FALSE(FitsCodePage(r.utf8, r.codepage)) << r.codepage << " " << r.utf8;
    }
}

TEST(CodePage, UndefinedBytesAndUnknownNames) {
    // windows-1251 leaves 98 undefined, windows-1252 leaves 81, 8D, 8F, 90, 9D.
    EXPECT_EQ(CodePageToUtf8("a\x98z", "windows-1251"), "a\uFFFDz");
    EXPECT_EQ(CodePageToUtf8("\x81\x8D", "windows-1252"), "\uFFFD\uFFFD");
    // An unknown name falls back to ISO-8859-1 in both directions.
    EXPECT_EQ(CodePageToUtf8("caf\xE9", "no-such-codepage"), "café");
    EXPECT_EQ(Utf8ToCodePage("café", "no-such-codepage"), "caf\xE9");
    EXPECT_EQ(CodePageToUtf8("caf\xE9", ""), "café");
    // The default is ISO-8859-1.
    EXPECT_EQ(CodePageToUtf8("\xE9"), "é");
    EXPECT_EQ(Utf8ToCodePage("é"), "\xE9");
}

TEST(CodePage, Utf8Length) {
    const std::pair<std::string, std::size_t> rows[] = {
        {"", 0},
        {"abc", 3},
        {"жё", 2},
        {"€😀", 2},
        {"a\xFF"
         "b",
         3},
        {"\xC3", 1},
    };
    for (const auto& [s, n] : rows)
        EXPECT_EQ(Utf8Length(s), n) << s;
}

TEST(CodePage, Utf8TruncateBytesNeverSplitsACharacter) {
    struct Cut {
        std::string s;
        std::size_t max;
        std::string out;
    };
    const Cut rows[] = {
        {"жж", 3, "ж"}, {"жж", 4, "жж"}, {"a€", 3, "a"},     {"a€", 4, "a€"},
        {"😀", 3, ""},   {"abc", 0, ""},  {"abc", 10, "abc"}, {"", 5, ""},
    };
    for (const Cut& c : rows)
        EXPECT_EQ(Utf8TruncateBytes(c.s, c.max), c.out) << c.s << " at " << c.max;

    // Every cut of a mixed text is a prefix that ends on a character boundary.
    const std::string mixed = "aé€😀жz";
    for (std::size_t max = 0; max <= mixed.size() + 1; ++max) {
        const std::string_view cut = Utf8TruncateBytes(mixed, max);
        EXPECT_LE(cut.size(), max);
        EXPECT_EQ(mixed.substr(0, cut.size()), cut);
        ASSERT_TRUE(cut.size() == mixed.size() ||
                    (static_cast<unsigned char>(mixed[cut.size()]) & 0xC0) != 0x80)
            << max;
        EXPECT_GE(cut.size() + 3, std::min(max, mixed.size())) << "cut too much at " << max;
    }
}

}  // namespace
}  // namespace sondrel
