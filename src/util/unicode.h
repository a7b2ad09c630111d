// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 <-> UTF-16 conversion shared by every format that stores UTF-16 text.
// The core's text is UTF-8; formats convert at their own border with these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// Appends `cp` as UTF-8. Surrogates and values past U+10FFFF cannot be
// encoded and are written as U+FFFD.
void AppendUtf8(std::string& out, char32_t cp);

// Decodes the character at `pos` (which must be < s.size()) and moves `pos`
// past it. Malformed input (a stray or missing continuation byte, a truncated
// sequence, an overlong form, a surrogate, a value past U+10FFFF) yields
// U+FFFD and advances one byte only, so decoding resumes at the next byte.
// A genuine U+FFFD in the text advances three bytes.
char32_t NextCodePoint(std::string_view s, std::size_t& pos);

// The longest prefix of `s` that is well-formed UTF-8 (it ends before the
// first malformed byte).
std::string_view ValidUtf8Prefix(std::string_view s);
inline bool IsValidUtf8(std::string_view s) {
    return ValidUtf8Prefix(s).size() == s.size();
}

// `s` with each byte that is not part of a well-formed sequence replaced by
// U+FFFD, so one bad byte never costs the text around it.
std::string SanitizeUtf8(std::string_view s);

// `bytes` bytes of UTF-16 at `data` to UTF-8. Surrogate pairs are joined; a
// lone surrogate becomes U+FFFD. Zero units are kept (callers that treat
// them as terminators cut the input first); an odd trailing byte is ignored.
std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t bytes, bool bigEndian);

// UTF-8 to UTF-16 bytes, malformed input as U+FFFD. With `terminate` a zero
// unit is appended.
std::vector<std::uint8_t> Utf8ToUtf16(std::string_view utf8, bool bigEndian, bool terminate);

}  // namespace sondrel
