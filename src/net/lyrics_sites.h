// SPDX-License-Identifier: GPL-3.0-or-later
// The lyrics site list: per site, a piece of its page addresses and the
// markers that cut the lyrics out of its pages. It ships as "sites.dat", a
// Huffman-coded text of line triples; the list is data the user may replace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sondrel::net {

struct LyricsSite {
    std::string site;  // a piece of the page address, compared case-insensitively
    std::string startMarker;
    std::string endMarker;
    bool operator==(const LyricsSite&) const = default;
};

// A decoded text longer than this is taken as damage, not as a site list.
inline constexpr std::uint32_t kMaxSitesTextBytes = 16u << 20;

// The decoded text; nullopt when the bytes are damaged (short header, a tree
// naming nodes that do not exist, bits running out before the text's length).
// A header with one symbol (m = 1) describes a run of one byte that is never
// taken as text: it decodes to an empty text.
std::optional<std::string> DecodeSitesData(std::span<const std::uint8_t> bytes);
// The same format from `text`; a text of one distinct byte (or none) is
// written as the m = 1 run.
std::vector<std::uint8_t> EncodeSitesData(std::string_view text);

// Lines end at CR LF, LF or CR; each three lines are one site, a last group
// of one or two lines gives empty markers, and text after the last line end
// is ignored.
std::vector<LyricsSite> ParseSites(std::string_view text);
// Reads and decodes `path`; a missing or damaged file gives no sites.
std::vector<LyricsSite> LoadSites(const std::string& path);

}  // namespace sondrel::net
