// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "appearance/color_scheme.h"
#include "appearance/skin_layout.h"
#include "support/test_support.h"

namespace sondrel {
namespace {

TEST(BackgroundPlan, TilesTheTopBetweenItsCorners) {
    std::array<PieceSize, kSkinPieceCount> pieces{};
    pieces[kTopLeft] = {10, 10};
    pieces[kTopRight] = {10, 10};
    pieces[kTop] = {20, 10};
    std::vector<int> xs;
    for (const PiecePlacement& p : BackgroundPlan(pieces, 430, 200))
        if (p.piece == kTop)
            xs.push_back(p.x);
    ASSERT_FALSE(xs.empty());
    EXPECT_EQ(xs.front(), 10);
    EXPECT_EQ(xs.back(), 410);
    EXPECT_EQ(xs.size(), 21u);
}

TEST(BackgroundPlan, PaintsInOrderAndSkipsMissingPieces) {
    std::array<PieceSize, kSkinPieceCount> pieces{};
    for (auto& p : pieces)
        p = {10, 10};
    pieces[kLeft] = {0, 0};  // missing: skipped, and no endless loop
    const auto plan = BackgroundPlan(pieces, 40, 40);
    ASSERT_FALSE(plan.empty());
    EXPECT_EQ(plan.front().piece, kCenter);
    EXPECT_EQ(plan.back().piece, kRight);
    for (const auto& p : plan)
        EXPECT_NE(p.piece, kLeft);
    // Corners sit in the corners.
    bool bottomRight = false;
    for (const auto& p : plan)
        bottomRight |= p.piece == kBottomRight && p.x == 30 && p.y == 30;
    EXPECT_TRUE(bottomRight);
}

TEST(DragRegionText, FormatsOfTheTwoWindows) {
    EXPECT_EQ(MainDragRegionText(368), "R0,0,84,40\r\nX\r\nR135,0,363,40");
    EXPECT_EQ(BatchDragRegionText(600), "R0,0,595,35");
}

TEST(ColorScheme, ReadsEightLinesAndKeepsWhatWasReadBeforeAFault) {
    test::TempDir dir;
    test::WriteAll(dir.file("seven.sch"), std::string("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n"));
    SchemeColors colors{};
    colors.fill(99);
    EXPECT_EQ(ReadScheme(dir.file("seven.sch"), colors), 7u);
    EXPECT_EQ(colors[6], 7u);
    EXPECT_EQ(colors[7], 99u);

    test::WriteAll(dir.file("bad.sch"), std::string("1\r\nred\r\n3\r\n"));
    EXPECT_EQ(ReadScheme(dir.file("bad.sch"), colors), 1u);
    EXPECT_EQ(ReadScheme(dir.file("missing.sch"), colors), 0u);
}

TEST(ColorScheme, SavedSchemesAreListedAndSelected) {
    test::TempDir dir;
    const SchemeColors colors = {16777215, 0, 255, 65280, 16711680, 8421504, 12632256, 4210752};
    EXPECT_EQ(WriteScheme(dir.file(SchemeFileName("Dark")), colors), "");
    const auto bytes = test::ReadAll(dir.file("Dark.sch"));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "16777215\r\n0\r\n255\r\n65280\r\n16711680\r\n8421504\r\n12632256\r\n4210752\r\n");
    SchemeColors back{};
    EXPECT_EQ(ReadScheme(dir.file("Dark.sch"), back), 8u);
    EXPECT_EQ(back, colors);
    test::WriteAll(dir.file("default.sch"), std::string("0\n"));
    EXPECT_EQ(ListSchemes(dir.path()), (std::vector<std::string>{"Dark", "default"}));
    EXPECT_EQ(SelectScheme({"Dark", "default"}, "DEFAULT.SCH"), 1);
    EXPECT_EQ(SelectScheme({"Dark", "default"}, "gone.sch"), 0);
    EXPECT_EQ(SelectScheme({}, "x"), -1);
    EXPECT_NE(WriteScheme(dir.file("no-such-folder/x.sch"), colors), "");
}

TEST(ColorScheme, NamesNeverLeaveTheSkinFolder) {
    EXPECT_EQ(SchemeFileName("Dark.SCH"), "Dark.SCH");
    for (const char* name : {"", ".", "..", "../evil", "a/b", "a\\b"})
        EXPECT_EQ(SchemeFileName(name), "") << name;
}

TEST(ColorScheme, SlotTextAndChannels) {
    EXPECT_EQ(SlotText(0x0000FF), "0000FF");  // pure red: red in the low byte
    EXPECT_EQ(SlotText(FromRgb(0x12, 0x34, 0x56)), "563412");
    const Rgb rgb = ToRgb(FromRgb(1, 2, 3));
    EXPECT_EQ(rgb.red, 1);
    EXPECT_EQ(rgb.green, 2);
    EXPECT_EQ(rgb.blue, 3);
}

}  // namespace
}  // namespace sondrel
