// SPDX-License-Identifier: GPL-3.0-or-later
// An attached picture as the ID3v2, Windows Media and MP4 components hold it,
// and the rule that picks a MIME type from a picture file's name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sondrel {

struct Picture {
    std::string MimeType;            // for example "image/jpg"
    std::string Description;         // UTF-8
    std::uint8_t PictureType = 3;    // ID3v2 picture type; 3 = front cover
    std::vector<std::uint8_t> Data;  // the image file's bytes

    std::int32_t DataSize() const { return static_cast<std::int32_t>(Data.size()); }
    bool operator==(const Picture&) const = default;
};

// MIME type by the upper-cased extension: ".JPG"/".JPEG" "image/jpg", ".GIF"
// "image/gif" (or "image/jpg" when the bytes say JFIF), ".BMP" "image/bmp",
// ".PNG" "image/png", otherwise "application/octet-stream". `data` is the
// start of the file (at least 10 bytes to recognise JFIF; fewer is fine).
std::string MimeByExtension(const std::string& fileName, const std::vector<std::uint8_t>& data);

}  // namespace sondrel
