// SPDX-License-Identifier: GPL-3.0-or-later
// Builders for ID3v2 tags and files used by the id3v2_* tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "tags/id3v2.h"
#include "tags/id3v2_frames.h"

namespace sondrel::test::id3 {

inline Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes Synchsafe(std::uint32_t v) {
    return {static_cast<std::uint8_t>((v >> 21) & 0x7F),
            static_cast<std::uint8_t>((v >> 14) & 0x7F), static_cast<std::uint8_t>((v >> 7) & 0x7F),
            static_cast<std::uint8_t>(v & 0x7F)};
}

inline Bytes Plain32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

// A 2.3 frame (plain size).
inline Bytes F23(const std::string& id, const Bytes& data, std::uint8_t status = 0,
                 std::uint8_t format = 0) {
    return Cat({B(id), Plain32(static_cast<std::uint32_t>(data.size())), {status, format}, data});
}

// A 2.4 frame (synchsafe size).
inline Bytes F24(const std::string& id, const Bytes& data, std::uint8_t status = 0,
                 std::uint8_t format = 0) {
    return Cat({B(id), Synchsafe(static_cast<std::uint32_t>(data.size())), {status, format}, data});
}

// A 2.2 frame (three-byte size).
inline Bytes F22(const std::string& id, const Bytes& data) {
    const auto n = static_cast<std::uint32_t>(data.size());
    return Cat({B(id),
                {static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                 static_cast<std::uint8_t>(n)},
                data});
}

// Encoding byte 0 followed by Latin-1 text.
inline Bytes Text(const std::string& latin1) {
    return Cat({{0}, B(latin1)});
}

// A whole tag: header, body, then `padding` zero bytes.
inline Bytes Tag(std::uint8_t major, const Bytes& body, std::size_t padding = 0,
                 std::uint8_t flags = 0) {
    Bytes full = body;
    full.resize(body.size() + padding, 0);
    return Cat(
        {B("ID3"), {major, 0, flags}, Synchsafe(static_cast<std::uint32_t>(full.size())), full});
}

// Stand-in audio: MPEG frame syncs and bytes that a tag never holds.
inline Bytes FakeAudio(std::size_t n = 2000) {
    Bytes a(n);
    for (std::size_t i = 0; i < n; ++i)
        a[i] = static_cast<std::uint8_t>(i % 4 == 0 ? 0xFF : (i * 37 + 11) % 251);
    return a;
}

// Writes `tag` + `audio` to `path` and reads it with a fresh component.
inline void WriteFile(const std::string& path, const Bytes& tag, const Bytes& audio = FakeAudio()) {
    WriteAll(path, Cat({tag, audio}));
}

// The frames of a tag file, walked with the reader of the production code.
inline std::vector<id3v2::RawFrame> FramesOf(const Bytes& file) {
    const auto header = id3v2::ParseHeader(file);
    if (!header || file.size() < 10 + header->BodySize)
        return {};
    return id3v2::ParseBody(*header, id3v2::ByteView(file).subspan(10, header->BodySize)).Frames;
}

inline std::vector<std::string> IdsOf(const Bytes& file) {
    std::vector<std::string> ids;
    for (const auto& f : FramesOf(file))
        ids.push_back(f.Id);
    return ids;
}

}  // namespace sondrel::test::id3
