// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/text.h"

#include <utf8proc.h>

#include <cstdint>

namespace sondrel {
namespace {

// One decoded character: its code point, or -1 for a malformed byte (which
// is then copied as it is, one byte long).
struct Char {
    std::int32_t cp;
    std::size_t len;
};

Char DecodeAt(std::string_view s, std::size_t pos) {
    std::int32_t cp = -1;
    const auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(s.data() + pos),
                                    static_cast<utf8proc_ssize_t>(s.size() - pos), &cp);
    if (n <= 0)
        return {-1, 1};
    return {cp, static_cast<std::size_t>(n)};
}

void Append(std::string& out, std::int32_t cp) {
    utf8proc_uint8_t buf[4];
    const auto n = utf8proc_encode_char(cp, buf);
    out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

// Applies `map` to every well-formed character; malformed bytes pass through.
template <typename Map>
std::string MapChars(std::string_view s, Map map) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size();) {
        const Char c = DecodeAt(s, pos);
        if (c.cp < 0)
            out.push_back(s[pos]);
        else
            Append(out, map(c.cp));
        pos += c.len;
    }
    return out;
}

bool IsLetter(std::int32_t cp) {
    switch (utf8proc_category(cp)) {
        case UTF8PROC_CATEGORY_LU:
        case UTF8PROC_CATEGORY_LL:
        case UTF8PROC_CATEGORY_LT:
        case UTF8PROC_CATEGORY_LM:
        case UTF8PROC_CATEGORY_LO:
            return true;
        default:
            return false;
    }
}

// A combining mark belongs to the letter before it; treating it as a word
// break would capitalise the letter after a decomposed «é».
bool IsMark(std::int32_t cp) {
    switch (utf8proc_category(cp)) {
        case UTF8PROC_CATEGORY_MN:
        case UTF8PROC_CATEGORY_MC:
        case UTF8PROC_CATEGORY_ME:
            return true;
        default:
            return false;
    }
}

std::string OnlyFirstUp(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    bool atWordStart = true;
    for (std::size_t pos = 0; pos < s.size();) {
        const Char c = DecodeAt(s, pos);
        if (c.cp < 0) {
            out.push_back(s[pos]);
            atWordStart = true;
        } else if (IsLetter(c.cp) || c.cp == '\'') {
            // Title case, not upper case, so that digraphs such as «ǆ» become «ǅ».
            Append(out, atWordStart ? utf8proc_totitle(c.cp) : utf8proc_tolower(c.cp));
            atWordStart = false;
        } else if (IsMark(c.cp)) {
            out.append(s.substr(pos, c.len));
        } else {
            out.append(s.substr(pos, c.len));
            atWordStart = true;
        }
        pos += c.len;
    }
    return out;
}

std::string FirstWord(std::string_view s) {
    std::string lower = LowerCase1251(s);
    if (lower.empty())
        return lower;
    const Char first = DecodeAt(lower, 0);
    if (first.cp < 0)
        return lower;
    std::string out;
    out.reserve(lower.size());
    Append(out, utf8proc_totitle(first.cp));
    out.append(lower, first.len, std::string::npos);
    return out;
}

// windows-1251 codes 80..BF as Unicode; C0..FF are U+0410..U+044F.
constexpr std::array<char16_t, 64> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr unsigned kCodeYoUpper = 0xA8;
constexpr unsigned kCodeYoLower = 0xB8;

std::int32_t Cp1251ToUnicode(unsigned code) {
    if (code < 0x80)
        return static_cast<std::int32_t>(code);
    if (code < 0xC0)
        return kCp1251High[code - 0x80];
    return static_cast<std::int32_t>(0x0410 + (code - 0xC0));
}

// The windows-1251 code of a Russian letter (А-Я, а-я, Ё, ё), or 0.
unsigned RussianCode(std::int32_t cp) {
    if (cp >= 0x0410 && cp <= 0x044F)
        return 0xC0 + static_cast<unsigned>(cp - 0x0410);
    if (cp == 0x0401)
        return kCodeYoUpper;
    if (cp == 0x0451)
        return kCodeYoLower;
    return 0;
}

unsigned UpperCode(unsigned code) {
    if (code >= 0xE0)
        return code - 0x20;
    return code == kCodeYoLower ? kCodeYoUpper : code;
}

unsigned LowerCode(unsigned code) {
    if (code >= 0xC0 && code < 0xE0)
        return code + 0x20;
    return code == kCodeYoUpper ? kCodeYoLower : code;
}

TranslitTableType MakeTranslitTable() {
    TranslitTableType t;
    for (unsigned c = 0; c < t.size(); ++c) {
        t[c].clear();
        Append(t[c], Cp1251ToUnicode(c));
    }
    // а б в г д е з и й к л м н о п р с т у ф х ц ъ ы ь, in code order.
    constexpr unsigned kSingles[] = {0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE7, 0xE8, 0xE9,
                                     0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF2,
                                     0xF3, 0xF4, 0xF5, 0xF6, 0xFA, 0xFB, 0xFC};
    constexpr std::string_view kLower = "abvgdeziyklmnoprstufhc'y'";
    constexpr std::string_view kUpper = "ABVGDEZIYKLMNOPRSTUFHC'Y'";
    static_assert(std::size(kSingles) == kLower.size() && kLower.size() == kUpper.size());
    for (std::size_t i = 0; i < kLower.size(); ++i) {
        t[kSingles[i]] = std::string(1, kLower[i]);
        t[kSingles[i] - 0x20] = std::string(1, kUpper[i]);
    }
    struct Multi {
        unsigned lowerCode;
        std::string_view lower;
        std::string_view upper;
    };
    constexpr Multi kMulti[] = {
        {kCodeYoLower, "jo", "Jo"}, {0xE6, "zh", "Zh"}, {0xF7, "ch", "Ch"}, {0xF8, "sh", "Sh"},
        {0xF9, "sch", "Sch"},       {0xFD, "e", "E"},   {0xFE, "yu", "Yu"}, {0xFF, "ya", "Ya"},
    };
    for (const Multi& m : kMulti) {
        t[m.lowerCode] = std::string(m.lower);
        t[UpperCode(m.lowerCode)] = std::string(m.upper);
    }
    return t;
}

// Codes whose entries can differ from the character itself, in the order
// the longest-match search examines them (ascending code).
constexpr std::array<unsigned, 66> MakeRussianCodes() {
    std::array<unsigned, 66> codes{};
    std::size_t n = 0;
    codes[n++] = kCodeYoUpper;
    codes[n++] = kCodeYoLower;
    for (unsigned c = 0xC0; c <= 0xFF; ++c)
        codes[n++] = c;
    return codes;
}
constexpr std::array<unsigned, 66> kRussianCodes = MakeRussianCodes();

}  // namespace

std::string UpperCase1251(std::string_view s) {
    return MapChars(s, [](std::int32_t cp) { return utf8proc_toupper(cp); });
}

std::string LowerCase1251(std::string_view s) {
    return MapChars(s, [](std::int32_t cp) { return utf8proc_tolower(cp); });
}

std::string ChangeCase(std::string_view s, int mode) {
    switch (mode) {
        case kCaseLower:
            return LowerCase1251(s);
        case kCaseUpper:
            return UpperCase1251(s);
        case kCaseOnlyFirstUp:
            return OnlyFirstUp(s);
        case kCaseFirstWord:
            return FirstWord(s);
        default:
            return std::string(s);
    }
}

const TranslitTableType& TranslitTable() {
    static const TranslitTableType table = MakeTranslitTable();
    return table;
}

void BuildTranslitTable() {
    (void)TranslitTable();
}

std::string Transliterate(std::string_view s) {
    const TranslitTableType& table = TranslitTable();
    std::string out;
    out.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size();) {
        const Char c = DecodeAt(s, pos);
        const unsigned code = c.cp < 0 ? 0 : RussianCode(c.cp);
        if (code != 0)
            out += table[code];
        else
            out.append(s.substr(pos, c.len));
        pos += c.len;
    }
    return out;
}

std::string Detransliterate(std::string_view s) {
    const TranslitTableType& table = TranslitTable();
    std::string out;
    out.reserve(s.size() * 2);
    for (std::size_t pos = 0; pos < s.size();) {
        // Only the Russian entries can match something other than the input
        // character itself, so the search over 80..FF reduces to these.
        unsigned best = 0;
        std::size_t bestLen = 0;
        const std::string_view rest = s.substr(pos);
        for (unsigned code : kRussianCodes) {
            const std::string& entry = table[code];
            if (entry.size() > bestLen && rest.starts_with(entry)) {
                best = code;
                bestLen = entry.size();
            }
        }
        if (bestLen == 0) {
            out.push_back(s[pos]);
            ++pos;
            continue;
        }
        // Entries are ASCII, so the input character here is one byte.
        const char first = s[pos];
        const bool upper = first >= 'A' && first <= 'Z';
        Append(out, Cp1251ToUnicode(upper ? UpperCode(best) : LowerCode(best)));
        pos += bestLen;
    }
    return out;
}

std::string TranslitByMode(std::string_view s, int mode) {
    switch (mode) {
        case kTranslitNone:
            return std::string(s);
        case kTranslitToLatin:
            return Transliterate(s);
        default:
            return Detransliterate(s);
    }
}

std::size_t PosFrom(std::string_view sub, std::string_view s, std::size_t start) {
    if (sub.empty())
        return 0;
    const std::size_t from = start == 0 ? 0 : start - 1;
    if (from >= s.size())
        return 0;
    const std::size_t at = s.find(sub, from);
    return at == std::string_view::npos ? 0 : at + 1;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
    if (from.empty())
        return std::string(s);
    std::string out;
    out.reserve(s.size());
    std::size_t pos = 0;
    for (std::size_t at = s.find(from); at != std::string_view::npos; at = s.find(from, pos)) {
        out.append(s.substr(pos, at - pos));
        out.append(to);
        pos = at + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

std::string TrimSpaces(std::string_view s) {
    const std::size_t first = s.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = s.find_last_not_of(' ');
    return std::string(s.substr(first, last - first + 1));
}

std::string SecondsToTime(std::int64_t seconds) {
    // Unsigned magnitude so that the most negative value does not overflow.
    const bool negative = seconds < 0;
    const std::uint64_t n = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(seconds)
                                     : static_cast<std::uint64_t>(seconds);
    const auto two = [](std::uint64_t v) {
        std::string t = std::to_string(v);
        return t.size() < 2 ? "0" + t : t;
    };
    return (negative ? "-" : "") + two(n / 3600) + ":" + two(n % 3600 / 60) + ":" + two(n % 60);
}

}  // namespace sondrel
