// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lyrics_sites.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <queue>
#include <tuple>

namespace sondrel::net {

namespace {

constexpr int kFirstInner = 256;

std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}
std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

std::optional<std::string> DecodeSitesData(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 6)
        return std::nullopt;
    const std::uint32_t length = U32(bytes, 0);
    const int m = U16(bytes, 4);
    if (m == 1)
        return bytes.size() >= 11 ? std::optional<std::string>(std::string()) : std::nullopt;
    if (m < 2 || length > kMaxSitesTextBytes)
        return std::nullopt;
    const int root = m + 254;
    const std::size_t innerCount = static_cast<std::size_t>(m - 1);
    std::size_t pos = 6;
    if (bytes.size() - pos < innerCount * 4)
        return std::nullopt;
    std::vector<std::array<int, 2>> inner(innerCount);
    for (auto& node : inner) {
        node = {U16(bytes, pos), U16(bytes, pos + 2)};
        pos += 4;
        for (int child : node)
            if (child > root)
                return std::nullopt;
    }
    std::string text;
    text.reserve(length);
    int node = root;
    for (; pos < bytes.size() && text.size() < length; ++pos) {
        for (int bit = 7; bit >= 0 && text.size() < length; --bit) {
            node = inner[static_cast<std::size_t>(node - kFirstInner)][(bytes[pos] >> bit) & 1];
            if (node < kFirstInner) {
                text.push_back(static_cast<char>(node));
                node = root;
            }
        }
    }
    if (text.size() < length)
        return std::nullopt;
    return text;
}

std::vector<std::uint8_t> EncodeSitesData(std::string_view text) {
    std::array<std::uint64_t, 256> counts{};
    for (unsigned char c : text)
        ++counts[c];
    const auto distinct = std::count_if(counts.begin(), counts.end(), [](auto n) { return n > 0; });
    std::vector<std::uint8_t> out;
    PutU32(out, static_cast<std::uint32_t>(text.size()));
    if (distinct <= 1) {
        PutU16(out, 1);
        out.push_back(text.empty() ? 0 : static_cast<std::uint8_t>(text[0]));
        PutU32(out, static_cast<std::uint32_t>(text.size()));
        return out;
    }
    // Ties broken by node number, so the same list always gives the same file.
    using Item = std::tuple<std::uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<>> queue;
    for (int b = 0; b < 256; ++b)
        if (counts[static_cast<std::size_t>(b)] > 0)
            queue.emplace(counts[static_cast<std::size_t>(b)], b);
    std::vector<std::array<int, 2>> inner;
    while (queue.size() > 1) {
        auto [w0, n0] = queue.top();
        queue.pop();
        auto [w1, n1] = queue.top();
        queue.pop();
        inner.push_back({n0, n1});
        queue.emplace(w0 + w1, kFirstInner + static_cast<int>(inner.size()) - 1);
    }
    const int m = static_cast<int>(inner.size()) + 1;
    PutU16(out, static_cast<std::uint16_t>(m));
    for (const auto& node : inner) {
        PutU16(out, static_cast<std::uint16_t>(node[0]));
        PutU16(out, static_cast<std::uint16_t>(node[1]));
    }
    // Codes from the root down.
    std::array<std::string, 256> codes;
    std::vector<std::pair<int, std::string>> stack{{m + 254, ""}};
    while (!stack.empty()) {
        auto [node, code] = stack.back();
        stack.pop_back();
        if (node < kFirstInner) {
            codes[static_cast<std::size_t>(node)] = code;
            continue;
        }
        const auto& kids = inner[static_cast<std::size_t>(node - kFirstInner)];
        stack.emplace_back(kids[0], code + '0');
        stack.emplace_back(kids[1], code + '1');
    }
    std::uint8_t current = 0;
    int used = 0;
    for (unsigned char c : text) {
        for (char bit : codes[c]) {
            current = static_cast<std::uint8_t>((current << 1) | (bit == '1'));
            if (++used == 8) {
                out.push_back(current);
                current = 0;
                used = 0;
            }
        }
    }
    if (used > 0)
        out.push_back(static_cast<std::uint8_t>(current << (8 - used)));
    return out;
}

std::vector<LyricsSite> ParseSites(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    std::vector<LyricsSite> sites;
    for (std::size_t i = 0; i < lines.size(); i += 3) {
        LyricsSite site;
        site.site = lines[i];
        if (i + 1 < lines.size())
            site.startMarker = lines[i + 1];
        if (i + 2 < lines.size())
            site.endMarker = lines[i + 2];
        sites.push_back(std::move(site));
    }
    return sites;
}

std::vector<LyricsSite> LoadSites(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    // The cap bounds the read as well: a coded text is never larger than it.
    std::vector<std::uint8_t> bytes;
    char buffer[32768];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
        if (bytes.size() > kMaxSitesTextBytes + 4096)
            return {};
    }
    auto text = DecodeSitesData(bytes);
    return text ? ParseSites(*text) : std::vector<LyricsSite>{};
}

}  // namespace sondrel::net
