// SPDX-License-Identifier: GPL-3.0-or-later
#include "appearance/window_glue.h"

#include <gtest/gtest.h>

namespace sondrel {
namespace {

const GlueRect kWork{0, 0, 1920, 1040};

// The main window at 100,100 (400 x 300) and a lyrics window to its right.
std::vector<GlueWindow> TwoWindows() {
    std::vector<GlueWindow> w(2);
    w[0].rect = {100, 100, 400, 300};
    w[0].isMain = true;
    w[1].rect = {600, 150, 200, 200};
    return w;
}

TEST(WindowGlue, ADraggedWindowSnapsGluesAndFollows) {
    auto w = TwoWindows();
    std::vector<WindowMove> moved;
    const GlueRect p =
        SnapProposal(w, 1, {504, 150, 200, 200}, ActiveEdges::Moving(), kWork, {}, moved);
    EXPECT_EQ(p.left, 500);
    EXPECT_EQ(w[1].anchor, 0);
    w[1].rect = p;

    w[0].rect.left = 300;
    w[0].rect.top = 120;
    const auto follows = FollowAnchor(w, 0);
    ASSERT_EQ(follows.size(), 1u);
    EXPECT_EQ(w[1].rect.left, 700);  // still touching: the gap stays 0
    EXPECT_EQ(w[1].rect.top, 170);

    // Dragged away beyond the distance: unglued.
    SnapProposal(w, 1, {720, 170, 200, 200}, ActiveEdges::Moving(), kWork, {}, moved);
    EXPECT_EQ(w[1].anchor, kNoAnchor);
}

TEST(WindowGlue, WithSnappingOffOnlyExactContactCounts) {
    GlueOptions off;
    off.snapWindows = false;
    for (int left : {500, 501}) {
        auto w = TwoWindows();
        std::vector<WindowMove> moved;
        const GlueRect p =
            SnapProposal(w, 1, {left, 150, 200, 200}, ActiveEdges::Moving(), kWork, off, moved);
        EXPECT_EQ(p.left, left);
        EXPECT_EQ(w[1].anchor, left == 500 ? 0 : kNoAnchor) << left;
    }
}

TEST(WindowGlue, SizingByTheRightEdgeKeepsTheLeftEdge) {
    std::vector<GlueWindow> w(2);
    w[0].rect = {100, 100, 400, 300};
    w[0].isMain = true;
    w[1].rect = {600, 100, 200, 300};
    ActiveEdges right;
    right.right = true;
    std::vector<WindowMove> moved;
    // The main window's right edge dragged to 596: within 5 of the other's left.
    const GlueRect p = SnapProposal(w, 0, {100, 100, 496, 300}, right, kWork, {}, moved);
    EXPECT_EQ(p.left, 100);
    EXPECT_EQ(p.width, 500);
    EXPECT_EQ(w[0].anchor, kNoAnchor);  // the main window is never glued
}

TEST(WindowGlue, SizingSnapsOnlyTheDraggedEdge) {
    // One window at 100,100 (200 x 150) on the work area, and a second one
    // whose left edge is at 600 (rows 50 to 350) for the window-to-window cases.
    ActiveEdges left, right, top, bottom, bottomRight;
    left.left = right.right = top.top = bottom.bottom = true;
    bottomRight.bottom = bottomRight.right = true;
    struct Case {
        const char* what;
        ActiveEdges edges;
        GlueRect proposed;
        GlueRect wanted;
    };
    const Case cases[] = {
        {"right edge to 3 short of the work area's right",
         right,
         {1700, 100, 217, 150},
         {1700, 100, 220, 150}},
        {"left edge to 4 right of the work area's left",
         left,
         {4, 100, 296, 150},
         {0, 100, 300, 150}},
        {"top edge to 2 below the work area's top", top, {100, 2, 200, 248}, {100, 0, 200, 250}},
        {"bottom edge to 5 above the work area's bottom",
         bottom,
         {100, 885, 200, 150},
         {100, 885, 200, 155}},
        {"a corner snaps both of its edges",
         bottomRight,
         {1716, 886, 200, 150},
         {1716, 886, 204, 154}},
        {"6 pixels away stays", right, {1700, 100, 214, 150}, {1700, 100, 214, 150}},
        {"right edge near the other window's left edge",
         right,
         {100, 100, 497, 150},
         {100, 100, 500, 150}},
        {"left edge near the other window's right edge",
         left,
         {802, 100, 300, 150},
         {800, 100, 302, 150}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<GlueWindow> w(2);
        w[0].rect = {100, 100, 200, 150};
        w[1].rect = {600, 50, 200, 300};
        w[1].isMain = true;
        std::vector<WindowMove> moved;
        EXPECT_EQ(SnapProposal(w, 0, c.proposed, c.edges, kWork, {}, moved), c.wanted);
    }
}

TEST(WindowGlue, EdgesChangedTellsMovingFromSizing) {
    const GlueRect at{100, 100, 200, 150};
    struct Case {
        GlueRect after;
        ActiveEdges edges;
    };
    ActiveEdges left, right, bottomRight, topLeft;
    left.left = right.right = true;
    bottomRight.bottom = bottomRight.right = true;
    topLeft.top = topLeft.left = true;
    const Case cases[] = {
        {at, {}},
        {{130, 90, 200, 150}, ActiveEdges::Moving()},
        {{100, 100, 220, 150}, right},
        {{90, 100, 210, 150}, left},
        {{100, 100, 210, 160}, bottomRight},
        {{90, 80, 210, 170}, topLeft},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EdgesChanged(at, c.after), c.edges)
            << c.after.left << "," << c.after.top << " " << c.after.width << "x" << c.after.height;
}

TEST(WindowGlue, TheMainWindowDragsOthersOnlyWhenAsked) {
    for (bool moveWithMain : {false, true}) {
        auto w = TwoWindows();
        w[1].rect = {1000, 700, 200, 200};  // far away, unglued
        GlueOptions options;
        options.moveWithMain = moveWithMain;
        std::vector<WindowMove> moved;
        SnapProposal(w, 0, {150, 130, 400, 300}, ActiveEdges::Moving(), kWork, options, moved);
        EXPECT_EQ(w[1].rect.left, moveWithMain ? 1050 : 1000);
        EXPECT_EQ(w[1].rect.top, moveWithMain ? 730 : 700);
        EXPECT_EQ(moved.size(), moveWithMain ? 1u : 0u);
    }
}

TEST(WindowGlue, WorkAreaEdgesAndTheZeroRule) {
    auto w = TwoWindows();
    std::vector<WindowMove> moved;
    EXPECT_EQ(
        SnapProposal(w, 1, {3, 1037 - 200, 200, 200}, ActiveEdges::Moving(), kWork, {}, moved),
        (GlueRect{0, 840, 200, 200}));
    // x = 0: nothing snaps in that step.
    EXPECT_EQ(SnapProposal(w, 1, {0, 502, 200, 200}, ActiveEdges::Moving(), kWork, {}, moved),
              (GlueRect{0, 502, 200, 200}));
}

TEST(WindowGlue, FollowingEndsOnALoopOfAnchors) {
    std::vector<GlueWindow> w(3);
    w[0].rect = {10, 10, 10, 10};
    w[1].rect = {20, 10, 10, 10};
    w[2].rect = {30, 10, 10, 10};
    w[1].anchor = 2;
    w[2].anchor = 1;
    w[1].offsetX = -10;
    w[2].offsetX = 10;
    const auto moves = FollowAnchor(w, 1);
    EXPECT_EQ(moves.size(), 1u);
}

}  // namespace
}  // namespace sondrel
