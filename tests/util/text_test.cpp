// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "util/codepage.h"

namespace sondrel {
namespace {

struct CaseRow {
    const char* in;
    int mode;
    const char* out;
};

TEST(ChangeCase, Modes) {
    const CaseRow rows[] = {
        // lower / UPPER: the Russian table and, beyond it, Unicode case.
        {"ABC Xyz АБВ Ё", kCaseLower, "abc xyz абв ё"},
        {"abc xyz абв ё", kCaseUpper, "ABC XYZ АБВ Ё"},
        {"café", kCaseUpper, "CAFÉ"},
        {"ÀÉÎÕÜ ÇÑ", kCaseLower, "àéîõü çñ"},
        {"іїєґў", kCaseUpper, "ІЇЄҐЎ"},
        {"ЂЉЊЋЏ", kCaseLower, "ђљњћџ"},
        {"123 -_()!", kCaseUpper, "123 -_()!"},
        // Only First Up.
        {"the BEATLES - hey jude (live)", kCaseOnlyFirstUp, "The Beatles - Hey Jude (Live)"},
        {"hip-hop", kCaseOnlyFirstUp, "Hip-Hop"},
        {"don't", kCaseOnlyFirstUp, "Don't"},
        {"'til", kCaseOnlyFirstUp, "'til"},
        {"3rd", kCaseOnlyFirstUp, "3Rd"},
        {"o'neil's ROCK'n'roll", kCaseOnlyFirstUp, "O'neil's Rock'n'roll"},
        {"ёлка ЁЖИК", kCaseOnlyFirstUp, "Ёлка Ёжик"},
        {"іван", kCaseOnlyFirstUp, "Іван"},
        {"ÉCOLE d'ÉTÉ", kCaseOnlyFirstUp, "École D'été"},
        {"under_score", kCaseOnlyFirstUp, "Under_Score"},
        // A combining accent stays part of its word.
        {"cafe\u0301s bar", kCaseOnlyFirstUp, "Cafe\u0301s Bar"},
        // Digraph letters take their title-case form at a word start.
        {"ǆemal", kCaseOnlyFirstUp, "ǅemal"},
        // First word.
        {"", kCaseFirstWord, ""},
        {" hello", kCaseFirstWord, " hello"},
        {"HELLO WORLD", kCaseFirstWord, "Hello world"},
        {"élan VITAL", kCaseFirstWord, "Élan vital"},
        {"ЯБЛОКО", kCaseFirstWord, "Яблоко"},
        // Unknown modes leave the text alone.
        {"MiXeD ТеКст", kCaseUnchanged, "MiXeD ТеКст"},
        {"MiXeD ТеКст", 5, "MiXeD ТеКст"},
        {"MiXeD ТеКст", -1, "MiXeD ТеКст"},
        // Malformed bytes are copied and end a word.
        {"a\xFF"
         "b",
         kCaseUpper,
         "A\xFF"
         "B"},
        {"ab\xFF"
         "cd",
         kCaseOnlyFirstUp,
         "Ab\xFF"
         "Cd"},
        {"\xC3", kCaseFirstWord, "\xC3"},
    };
    for (const CaseRow& r : rows)
        EXPECT_EQ(ChangeCase(r.in, r.mode), r.out) << "mode " << r.mode << " of «" << r.in << "»";
}

// The case pairs of the Russian table (a-z, а-я, Ё/ё), with windows-1251
// decoding as the independent source of the letters.
TEST(ChangeCase, RussianTablePairs) {
    const auto cp1251 = [](unsigned code) {
        return CodePageToUtf8(std::string(1, static_cast<char>(code)), "windows-1251");
    };
    const auto check = [&](unsigned upper, unsigned lower) {
        EXPECT_EQ(UpperCase1251(cp1251(lower)), cp1251(upper)) << std::hex << lower;
        EXPECT_EQ(LowerCase1251(cp1251(upper)), cp1251(lower)) << std::hex << upper;
        EXPECT_EQ(UpperCase1251(cp1251(upper)), cp1251(upper)) << std::hex << upper;
        EXPECT_EQ(LowerCase1251(cp1251(lower)), cp1251(lower)) << std::hex << lower;
    };
    for (unsigned c = 'A'; c <= 'Z'; ++c)
        check(c, c + 0x20);
    for (unsigned c = 0xC0; c <= 0xDF; ++c)
        check(c, c + 0x20);
    check(0xA8, 0xB8);
}

TEST(Translit, TableHoldsExactlyTheRussianLetters) {
    BuildTranslitTable();
    BuildTranslitTable();  // a second call changes nothing
    const TranslitTableType& t = TranslitTable();
    int changed = 0;
    for (unsigned c = 0; c < 256; ++c) {
        const std::string self =
            CodePageToUtf8(std::string(1, static_cast<char>(c)), "windows-1251");
        if (t[c] != self)
            ++changed;
    }
    EXPECT_EQ(changed, 66);
    EXPECT_EQ(t['A'], "A");
    EXPECT_EQ(t[0xE6], "zh");
    EXPECT_EQ(t[0xC6], "Zh");
    EXPECT_EQ(t[0xD9], "Sch");
    EXPECT_EQ(t[0xA8], "Jo");
    EXPECT_EQ(t[0xB8], "jo");
    EXPECT_EQ(t[0xDA], "'");
    EXPECT_EQ(t[0xFC], "'");
    EXPECT_EQ(t[0xFD], "e");
    EXPECT_EQ(t[0xB3], "і");  // Ukrainian і is not transliterated
}

TEST(Translit, ToLatin) {
    const std::pair<const char*, const char*> rows[] = {
        {"Щука и ёж", "Schuka i jozh"},
        {"абвгдеёжзийклмнопрстуфхцчшщъыьэюя", "abvgdejozhziyklmnoprstufhcchshsch'y'eyuya"},
        {"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ", "ABVGDEJoZhZIYKLMNOPRSTUFHCChShSch'Y'EYuYa"},
        {"объект", "ob'ekt"},
        {"съешь", "s'esh'"},
        {"Жанна", "Zhanna"},
        // Outside the 66 letters everything is copied.
        {"Київ ґ café 42!", "Kiїv ґ café 42!"},
        {"a\xFF"
         "б",
         "a\xFF"
         "b"},
        {"", ""},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(Transliterate(in), out) << in;
}

TEST(Translit, BackToCyrillic) {
    const std::pair<const char*, const char*> rows[] = {
        {"Schuka i jozh", "Щука и ёж"},
        {"Yoga", "Йога"},
        {"ob'ekt", "объект"},
        {"s'esh'", "съешъ"},
        // Ties go to the lowest code.
        {"y", "й"},
        {"e", "е"},
        {"'", "ъ"},
        {"jo", "ё"},
        {"Jo", "Ё"},
        // Longest entry wins; entries are case-sensitive and mixed case only.
        {"sch sh ch zh ya yu", "щ ш ч ж я ю"},
        {"Sch Sh Ch Zh Ya Yu", "Щ Ш Ч Ж Я Ю"},
        {"ZH", "ЗХ"},
        {"SCH", "СЦХ"},
        {"s", "с"},
        // No entry: copied.
        {"j q w x 0-9 !?", "j q w x 0-9 !?"},
        {"Привет", "Привет"},
        {"café", "цафé"},
        {"", ""},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(Detransliterate(in), out) << in;
}

TEST(Translit, ByMode) {
    EXPECT_EQ(TranslitByMode("Жук zhuk", kTranslitNone), "Жук zhuk");
    EXPECT_EQ(TranslitByMode("Жук zhuk", kTranslitToLatin), "Zhuk zhuk");
    EXPECT_EQ(TranslitByMode("Жук zhuk", kTranslitToCyrillic), "Жук жук");
    EXPECT_EQ(TranslitByMode("Жук zhuk", -1), "Жук жук");
    EXPECT_EQ(TranslitByMode("Жук zhuk", 7), "Жук жук");
}

TEST(PosFrom, BytePositions) {
    struct Row {
        const char* sub;
        const char* s;
        std::size_t start;
        std::size_t pos;
    };
    const Row rows[] = {
        {"b", "abcabc", 1, 2}, {"b", "abcabc", 2, 2}, {"b", "abcabc", 3, 5},  {"b", "abcabc", 6, 0},
        {"c", "abcabc", 6, 6}, {"b", "abcabc", 0, 2}, {"b", "abcabc", 99, 0}, {"", "abcabc", 1, 0},
        {"abcd", "abc", 1, 0}, {"abc", "abc", 1, 1},  {"x", "", 1, 0},        {"ж", "аж", 1, 3},
        {"ж", "жаж", 2, 5},
    };
    for (const Row& r : rows)
        EXPECT_EQ(PosFrom(r.sub, r.s, r.start), r.pos)
            << r.sub << " in " << r.s << " from " << r.start;
}

TEST(ReplaceAll, LeftToRightWithoutRescanning) {
    struct Row {
        const char* s;
        const char* from;
        const char* to;
        const char* out;
    };
    const Row rows[] = {
        {"aaa", "a", "aa", "aaaaaa"},       {"aaaa", "aa", "a", "aa"},
        {"abcabc", "bc", "", "aa"},         {"abc", "", "x", "abc"},
        {"abc", "x", "y", "abc"},           {"", "a", "b", ""},
        {"ёжик ёж", "ёж", "ЁЖ", "ЁЖик ЁЖ"}, {"a.b.c", ".", "/", "a/b/c"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ReplaceAll(r.s, r.from, r.to), r.out) << r.s;
}

TEST(TrimSpaces, OnlySpaces) {
    const std::pair<const char*, const char*> rows[] = {
        {"  a b  ", "a b"}, {"\ta\t ", "\ta\t"}, {"   ", ""}, {"", ""}, {"x", "x"}, {" \n ", "\n"},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(TrimSpaces(in), out) << "«" << in << "»";
}

TEST(SecondsToTime, Format) {
    const std::pair<std::int64_t, const char*> rows[] = {
        {0, "00:00:00"},    {59, "00:00:59"},      {60, "00:01:00"},  {3599, "00:59:59"},
        {3725, "01:02:05"}, {360000, "100:00:00"}, {-5, "-00:00:05"}, {-3725, "-01:02:05"},
    };
    for (const auto& [n, out] : rows)
        EXPECT_EQ(SecondsToTime(n), out) << n;
    EXPECT_EQ(SecondsToTime(std::numeric_limits<std::int64_t>::min()), "-2562047788015215:30:08");
}

}  // namespace
}  // namespace sondrel
