// SPDX-License-Identifier: GPL-3.0-or-later
// Windows that snap to the work area's edges and to each other, and glued
// windows that follow the window they snapped to: pure rules over
// rectangles, applied by the windows as the user moves or sizes them.
#pragma once

#include <cstddef>
#include <vector>

namespace sondrel {

struct GlueRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int right() const { return left + width; }
    int bottom() const { return top + height; }
    bool operator==(const GlueRect&) const = default;
};

// Which edges the user is dragging: a move drags all four, sizing by a
// corner two, by an edge one.
struct ActiveEdges {
    bool left = false;
    bool right = false;
    bool top = false;
    bool bottom = false;
    static ActiveEdges Moving() { return {true, true, true, true}; }
    bool moving() const { return left && right && top && bottom; }
    bool any() const { return left || right || top || bottom; }
    bool operator==(const ActiveEdges&) const = default;
};

// The edges a change of a window's rectangle dragged, for window systems that
// report only the new rectangle: a move when the size stayed, otherwise the
// edges that are somewhere else now (none when nothing changed).
ActiveEdges EdgesChanged(const GlueRect& before, const GlueRect& after);

inline constexpr int kNoAnchor = -1;
// The distance within which an edge snaps while snapping is on; with it off
// only exact contact counts.
inline constexpr int kSnapDistance = 5;

struct GlueWindow {
    GlueRect rect;
    bool isMain = false;
    bool snapping = true;  // off while the program itself moves the window
    int anchor = kNoAnchor;
    int offsetX = 0;
    int offsetY = 0;
};

struct GlueOptions {
    bool snapWindows = true;
    bool moveWithMain = false;
    bool ready = true;  // the windows all exist (nothing snaps during start-up)
};

struct WindowMove {
    std::size_t window = 0;
    int left = 0;
    int top = 0;
};

// Adjusts the proposed rectangle of windows[s] as it is moved or sized, and
// updates its anchor and offset. A move snaps the whole window to the work
// area's edges; sizing snaps only the dragged edges, the others stay. Other windows the main window
// drags along
// ("move windows with main") are moved in `windows` and listed in `moved`.
GlueRect SnapProposal(std::vector<GlueWindow>& windows, std::size_t s, GlueRect proposed,
                      ActiveEdges active, const GlueRect& workArea, const GlueOptions& options,
                      std::vector<WindowMove>& moved);

// After windows[a] has moved: every window glued to it, and in turn the ones
// glued to those, keep their offsets. Returns the moves made (each window at
// most once, so a loop of anchors cannot run forever).
std::vector<WindowMove> FollowAnchor(std::vector<GlueWindow>& windows, std::size_t a);

}  // namespace sondrel
