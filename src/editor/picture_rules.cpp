// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/picture_rules.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace sondrel {

namespace {

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool Contains(const std::string& s, std::string_view what) {
    return s.find(what) != std::string::npos;
}

bool StartsWith(std::span<const std::uint8_t> b, std::initializer_list<int> sig,
                std::size_t at = 0) {
    if (b.size() < at + sig.size())
        return false;
    std::size_t i = at;
    for (int v : sig)
        if (b[i++] != v)
            return false;
    return true;
}

}  // namespace

bool IsBadFileNameChar(char c) {
    return std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos ||
           static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

std::string SafeFileName(std::string_view text) {
    std::string out;
    for (char c : text)
        if (!IsBadFileNameChar(c))
            out += c;
    std::size_t lead = 0;
    while (lead < out.size() && (out[lead] == '.' || out[lead] == '-' || out[lead] == ' '))
        ++lead;
    return out.substr(lead);
}

SaveChoice SaveChoiceForMime(std::string_view mime) {
    const std::string m = Upper(mime);
    if (Contains(m, "JPEG") || Contains(m, "JPG"))
        return {"jpg", 1};
    if (Contains(m, "GIF"))
        return {"gif", 2};
    if (Contains(m, "PNG"))
        return {"png", 3};
    if (Contains(m, "BMP") || Contains(m, "OCTET-STREAM"))
        return {"bmp", 4};
    return {"", 5};
}

std::string ProposedPictureName(std::string_view description, std::string_view mime) {
    std::string base = SafeFileName(description);
    // Trailing dots and spaces would run into the extension's dot.
    while (!base.empty() && (base.back() == '.' || base.back() == ' '))
        base.pop_back();
    if (base.empty())
        base = "picture";
    SaveChoice choice = SaveChoiceForMime(mime);
    return choice.extension.empty() ? base : base + "." + choice.extension;
}

std::string PreviewExtension(std::string_view mime) {
    const std::string m = Upper(mime);
    if (Contains(m, "JPEG") || Contains(m, "JPG"))
        return ".jpg";
    if (Contains(m, "GIF"))
        return ".gif";
    if (Contains(m, "PNG"))
        return ".png";
    if (Contains(m, "BMP") || Contains(m, "OCTET-STREAM"))
        return ".bmp";
    return ".jpg";
}

ImageKind SignatureOf(std::span<const std::uint8_t> b) {
    if (StartsWith(b, {0xFF, 0xD8, 0xFF}))
        return ImageKind::Jpeg;
    if (StartsWith(b, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}))
        return ImageKind::Png;
    if (StartsWith(b, {'G', 'I', 'F', '8'}))
        return ImageKind::Gif;
    if (StartsWith(b, {'B', 'M'}) && b.size() >= 14)
        return ImageKind::Bmp;
    if (StartsWith(b, {'I', 'I', 42, 0}) || StartsWith(b, {'M', 'M', 0, 42}))
        return ImageKind::Tiff;
    if (StartsWith(b, {'R', 'I', 'F', 'F'}) && StartsWith(b, {'W', 'E', 'B', 'P'}, 8))
        return ImageKind::Webp;
    return ImageKind::None;
}

std::string CheckPictureFile(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        return "Cannot read " + path + ": " + ec.message();
    if (static_cast<std::int64_t>(size) > kMaxPictureFileBytes)
        return path + " is larger than 64 MiB: not taken as a picture";
    std::ifstream in(path, std::ios::binary);
    std::array<std::uint8_t, 16> head{};
    in.read(reinterpret_cast<char*>(head.data()), head.size());
    if (!in && in.gcount() == 0)
        return "Cannot read " + path;
    if (SignatureOf(std::span(head.data(), static_cast<std::size_t>(in.gcount()))) ==
        ImageKind::None)
        return path + " is not a picture (no image signature)";
    return {};
}

std::string CheckPictureSize(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0)
        return "The picture has no size";
    if (width > kMaxPicturePixels / height)
        return "The picture is larger than 100 megapixels (" + std::to_string(width) + " x " +
               std::to_string(height) + "): not decoded";
    return {};
}

std::string DescriptionFromFileName(std::string_view path) {
    std::size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(0, dot));
}

std::string AddressExtension(std::string_view url) {
    std::size_t dot = url.rfind('.');
    if (dot == std::string_view::npos || url.find_first_of("/\\:?", dot) != std::string_view::npos)
        return {};
    return SafeFileName(url.substr(dot + 1)).empty() ? std::string()
                                                     : "." + SafeFileName(url.substr(dot + 1));
}

std::string DownloadExtension(std::string_view extension, std::span<const std::uint8_t> bytes) {
    const bool jfif = bytes.size() > 10 && StartsWith(bytes, {'J', 'F', 'I', 'F'}, 6);
    if (jfif && Upper(extension) == ".GIF")
        return ".jpg";
    return std::string(extension);
}

PixelSize FitPicture(int tw, int th, int windowWidth, int windowHeight) {
    const std::int64_t W = windowWidth - 10;
    const std::int64_t H = windowHeight - 45;
    if (tw <= 0 || th <= 0 || W <= 0 || H <= 0)
        return {};
    // round(n / d), halves to even.
    auto roundDiv = [](std::int64_t n, std::int64_t d) {
        std::int64_t q = n / d, rem = n % d;
        if (2 * rem > d || (2 * rem == d && q % 2 == 1))
            ++q;
        return static_cast<int>(q);
    };
    if (std::int64_t{tw} * H >= std::int64_t{th} * W)
        return {static_cast<int>(W), roundDiv(std::int64_t{th} * W, tw)};
    return {roundDiv(std::int64_t{tw} * H, th), static_cast<int>(H)};
}

int ClampPictureIndex(int index, int count, bool version1Only) {
    if (version1Only || count <= 0)
        return -1;
    return std::clamp(index, 0, count - 1);
}

}  // namespace sondrel
