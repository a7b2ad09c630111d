// SPDX-License-Identifier: GPL-3.0-or-later
// Conversion between UTF-8 (the core's text) and the legacy code
// pages that some tag formats store without naming them (ID3v1, Lyrics3,
// ID3v2 encoding 0).
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace sondrel {

// The code page used when a format stores 8-bit text. ISO-8859-1 is what the
// ID3 standard prescribes; "windows-1251" suits files made on Cyrillic systems.
inline constexpr std::string_view kDefaultCodePage = "ISO-8859-1";

// The code pages a user can choose for those texts, by the names the
// conversions below take; the default first. The double-byte pages are the
// ones Windows systems in East Asia write (CP932 rather than the strict
// Shift_JIS, which would turn a backslash into a yen sign).
inline constexpr std::array<std::string_view, 19> kLegacyCodePages = {
    kDefaultCodePage, "windows-1250", "windows-1251", "windows-1252", "windows-1253",
    "windows-1254",   "windows-1255", "windows-1256", "windows-1257", "KOI8-R",
    "KOI8-U",         "ISO-8859-2",   "ISO-8859-5",   "ISO-8859-7",   "ISO-8859-9",
    "CP932",          "GBK",          "BIG5",         "EUC-KR"};

// Bytes in `codepage` to UTF-8. Bytes the code page does not define become
// U+FFFD. An unknown code page name is treated as ISO-8859-1.
std::string CodePageToUtf8(std::string_view bytes, std::string_view codepage = kDefaultCodePage);

// UTF-8 to bytes in `codepage`. Characters the code page cannot hold, and
// malformed UTF-8, become '?'.
std::string Utf8ToCodePage(std::string_view utf8, std::string_view codepage = kDefaultCodePage);

// True when every character of `utf8` can be stored in `codepage`.
bool FitsCodePage(std::string_view utf8, std::string_view codepage = kDefaultCodePage);

// Number of characters (code points) in a UTF-8 text; malformed bytes count one each.
std::size_t Utf8Length(std::string_view utf8);

// The longest prefix of `utf8` that is at most `maxBytes` long and does not
// end inside a multi-byte character.
std::string_view Utf8TruncateBytes(std::string_view utf8, std::size_t maxBytes);

}  // namespace sondrel
