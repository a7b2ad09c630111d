// SPDX-License-Identifier: GPL-3.0-or-later
#include "appearance/skin_layout.h"

namespace sondrel {

const std::array<const char*, kSkinPieceCount>& SkinPieceNames() {
    static const std::array<const char*, kSkinPieceCount> names = {
        "top_left", "top",         "top_right", "left",        "center",
        "right",    "bottom_left", "bottom",    "bottom_right"};
    return names;
}

std::vector<PiecePlacement> BackgroundPlan(const std::array<PieceSize, kSkinPieceCount>& p,
                                           int width, int height) {
    std::vector<PiecePlacement> out;
    auto present = [&](int piece) { return p[piece].width > 0 && p[piece].height > 0; };
    // A zero-sized piece would never advance a tiling loop; it is skipped.
    if (present(kCenter))
        for (int y = p[kTop].height; y < height - p[kBottom].height; y += p[kCenter].height)
            for (int x = p[kLeft].width; x < width - p[kRight].width; x += p[kCenter].width)
                out.push_back({kCenter, x, y});
    if (present(kTop))
        for (int x = p[kTopLeft].width; x < width - p[kTopRight].width; x += p[kTop].width)
            out.push_back({kTop, x, 0});
    if (present(kTopLeft))
        out.push_back({kTopLeft, 0, 0});
    if (present(kTopRight))
        out.push_back({kTopRight, width - p[kTopRight].width, 0});
    if (present(kBottom))
        for (int x = p[kBottomLeft].width; x < width - p[kBottomRight].width; x += p[kBottom].width)
            out.push_back({kBottom, x, height - p[kBottom].height});
    if (present(kBottomLeft))
        out.push_back({kBottomLeft, 0, height - p[kBottomLeft].height});
    if (present(kBottomRight))
        out.push_back(
            {kBottomRight, width - p[kBottomRight].width, height - p[kBottomRight].height});
    if (present(kLeft))
        for (int y = p[kTopLeft].height; y < height - p[kBottomLeft].height; y += p[kLeft].height)
            out.push_back({kLeft, 0, y});
    if (present(kRight))
        for (int y = p[kTopRight].height; y < height - p[kBottomRight].height;
             y += p[kRight].height)
            out.push_back({kRight, width - p[kRight].width, y});
    return out;
}

std::string MainDragRegionText(int minimizeButtonLeft) {
    return "R0,0,84,40\r\nX\r\nR135,0," + std::to_string(minimizeButtonLeft - 5) + ",40";
}

std::string BatchDragRegionText(int closeButtonLeft) {
    return "R0,0," + std::to_string(closeButtonLeft - 5) + ",35";
}

}  // namespace sondrel
