// SPDX-License-Identifier: GPL-3.0-or-later
// Text helpers shared by the editor and the batch engines: case changing and
// the capitalization modes, Russian transliteration, search and replace,
// trimming, and the «hh:mm:ss» duration text.
//
// All text is UTF-8. Malformed bytes are never dropped: every function copies
// them unchanged. Positions (PosFrom) are 1-based BYTE offsets into the UTF-8
// text, so they can be used directly with std::string::substr(pos - 1, ...).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sondrel {

// Capitalization modes, by the index of the item in the lists that offer them.
enum CaseMode : int {
    kCaseUnchanged = 0,
    kCaseLower = 1,
    kCaseUpper = 2,
    kCaseOnlyFirstUp = 3,
    kCaseFirstWord = 4,
};

// Transliteration modes, by list index; any value other than 0 and 1 goes
// back from Latin to Cyrillic (also -1, "nothing selected").
enum TranslitMode : int {
    kTranslitNone = 0,
    kTranslitToLatin = 1,
    kTranslitToCyrillic = 2,
};

// Every character through its Unicode simple case mapping (A-Z, А-Я and Ё
// as well as accented Latin and the other Cyrillic letters).
std::string UpperCase1251(std::string_view s);
std::string LowerCase1251(std::string_view s);

// Capitalization by mode (CaseMode); unknown modes return the text unchanged.
// "Only First Up" treats letters and the apostrophe (U+0027) as word
// characters; digits, spaces and punctuation start a new word.
std::string ChangeCase(std::string_view s, int mode);

// The transliteration table: index = windows-1251 code, entry = UTF-8 text.
// Entries of the 66 Russian letters hold their Latin form; every other entry
// holds the character itself (the undefined code 98 holds U+FFFD).
using TranslitTableType = std::array<std::string, 256>;
// Builds the table (once; later calls do nothing). The transliteration
// functions build it themselves on first use, so calling this is optional.
void BuildTranslitTable();
const TranslitTableType& TranslitTable();

// Russian Cyrillic to Latin by the table; everything else is copied.
std::string Transliterate(std::string_view s);
// Latin back to Cyrillic: longest table entry wins, ties go to the lowest
// code («y» -> й, «e» -> е, «'» -> ъ); unmatched characters are copied.
std::string Detransliterate(std::string_view s);
// 0: unchanged; 1: Transliterate; anything else: Detransliterate.
std::string TranslitByMode(std::string_view s, int mode);

// 1-based byte position of the first occurrence of `sub` in `s` that starts
// at or after byte position `start` (0 is read as 1); 0 when there is none
// or `sub` is empty.
std::size_t PosFrom(std::string_view sub, std::string_view s, std::size_t start);

// Every occurrence of `from` replaced by `to`, left to right; replaced text
// is never searched again. An empty `from` leaves `s` unchanged.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

// Leading and trailing spaces (U+0020 only) removed; tabs are kept.
std::string TrimSpaces(std::string_view s);

// «hh:mm:ss», each part at least two digits, hours unbounded. A negative
// duration is shown with a leading "-" rather than as garbled fields.
std::string SecondsToTime(std::int64_t seconds);

}  // namespace sondrel
