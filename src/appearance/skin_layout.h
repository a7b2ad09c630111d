// SPDX-License-Identifier: GPL-3.0-or-later
// Where a skinned window's background pieces go and which strips of it drag
// the window: pure geometry, painted by the windows.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace sondrel {

// The nine background pieces, in this order; a missing piece is 0 x 0.
enum SkinPiece : int {
    kTopLeft,
    kTop,
    kTopRight,
    kLeft,
    kCenter,
    kRight,
    kBottomLeft,
    kBottom,
    kBottomRight,
    kSkinPieceCount
};

// The file base names of the pieces; the batch window's carry "rename_".
const std::array<const char*, kSkinPieceCount>& SkinPieceNames();

struct PieceSize {
    int width = 0;
    int height = 0;
};

struct PiecePlacement {
    int piece = 0;
    int x = 0;
    int y = 0;
};

// Every drawing of a piece for a window of `width` x `height`, in painting
// order: the centre tiled, then the top edge and its corners, the bottom edge
// and its corners, the left and right edges tiled.
std::vector<PiecePlacement> BackgroundPlan(const std::array<PieceSize, kSkinPieceCount>& pieces,
                                           int width, int height);

// The main window's drag strips: left of the menu buttons and from there to
// the minimise button, 40 pixels high.
std::string MainDragRegionText(int minimizeButtonLeft);
// The batch window's: everything left of its close button, 35 pixels high.
std::string BatchDragRegionText(int closeButtonLeft);

}  // namespace sondrel
