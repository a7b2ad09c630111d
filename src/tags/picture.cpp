// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/picture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace sondrel {

std::string MimeByExtension(const std::string& fileName, const std::vector<std::uint8_t>& data) {
    std::string ext = std::filesystem::path(fileName).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (ext == ".JPG" || ext == ".JPEG")
        return "image/jpg";
    if (ext == ".GIF") {
        // Some JPEG files travel under a .gif name; bytes 6..9 give them away.
        const bool jfif = data.size() >= 10 && data[6] == 'J' && data[7] == 'F' && data[8] == 'I' &&
                          data[9] == 'F';
        return jfif ? "image/jpg" : "image/gif";
    }
    if (ext == ".BMP")
        return "image/bmp";
    if (ext == ".PNG")
        return "image/png";
    return "application/octet-stream";
}

}  // namespace sondrel
