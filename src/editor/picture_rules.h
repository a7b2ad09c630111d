// SPDX-License-Identifier: GPL-3.0-or-later
// Rules for pictures as the pictures window handles them: the names it
// proposes, the extension and filter a MIME type gets, the size guard a
// picture passes before it is decoded, the preview's fitting and paging.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sondrel {

// Picture files above this are refused before they are read or decoded.
inline constexpr std::int64_t kMaxPictureFileBytes = std::int64_t{64} << 20;
// A picture that decodes to more pixels than this is refused (a small file
// may claim a huge canvas).
inline constexpr std::int64_t kMaxPicturePixels = 100'000'000;

// Characters never put into a proposed name: quote * / : < > ? \ | and controls.
bool IsBadFileNameChar(char c);
// `text` without bad characters and without leading "." or "-" (nor the
// spaces before them), so the name is neither hidden nor an option.
std::string SafeFileName(std::string_view text);

// What a save of a picture offers: extension without the dot (empty when
// the MIME type says nothing known) and the save dialog's filter (1 JPEG,
// 2 GIF, 3 PNG, 4 bitmap, 5 all files).
struct SaveChoice {
    std::string extension;
    int filter = 5;
};
SaveChoice SaveChoiceForMime(std::string_view mime);
// "description.ext" made safe; "picture" when nothing is left of the description.
std::string ProposedPictureName(std::string_view description, std::string_view mime);

// The extension (with the dot) a preview file gets from a MIME type.
std::string PreviewExtension(std::string_view mime);

enum class ImageKind { None, Jpeg, Png, Gif, Bmp, Tiff, Webp };
// The image format the bytes start with, by their signature.
ImageKind SignatureOf(std::span<const std::uint8_t> head);
// Why `path` cannot be added as a picture (too big, unreadable, not an
// image by its signature); empty when it may.
std::string CheckPictureFile(const std::string& path);
// Why a picture of this size may not be decoded; empty when it may.
std::string CheckPictureSize(std::int64_t width, std::int64_t height);

// The description a picture added from `path` gets: the file's name without
// folder and last extension; empty when the name has no ".".
std::string DescriptionFromFileName(std::string_view path);

// The extension of a picture address (with the dot), empty when its last "."
// is followed by a "/", "\", ":" or "?" or there is none.
std::string AddressExtension(std::string_view url);
// Downloaded bytes that are JPEG data under a ".gif" name are stored as ".jpg".
std::string DownloadExtension(std::string_view extension, std::span<const std::uint8_t> bytes);

// The preview's drawing size for a picture of tw x th in a window of
// width x height (10 pixels of frame across, 45 down); {0, 0} when nothing fits.
struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};
PixelSize FitPicture(int tw, int th, int windowWidth, int windowHeight);

// The picture shown after a read: -1 when there are none or only version 1
// is read; otherwise `index` kept inside 0 .. count - 1.
int ClampPictureIndex(int index, int count, bool version1Only);

}  // namespace sondrel
