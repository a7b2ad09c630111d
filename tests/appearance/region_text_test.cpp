// SPDX-License-Identifier: GPL-3.0-or-later
#include "appearance/region_text.h"

#include <gtest/gtest.h>

#include <map>

namespace sondrel {
namespace {

const RegionMeasures kWindow{430, 300, 4, 30, 426, 296, 22};

std::vector<RegionShape> Build(const std::string& text) {
    RegionError error;
    auto shapes = BuildRegion(text, kWindow, error);
    EXPECT_TRUE(shapes.has_value()) << DescribeRegionError(error);
    return shapes.value_or(std::vector<RegionShape>{});
}

TEST(RegionText, ShapesCombinationsAndGroups) {
    const auto shapes = Build(
        "R0,0,84,40\r\nX\r\nR135,0,363,40\r\n"
        "a\n{\n  e 0,0,W,H\n  d\n  u1,2,3,4,5,6\n}\nw 0,0, 10,0, 5,9\n");
    ASSERT_EQ(shapes.size(), 4u);
    EXPECT_EQ(shapes[0].values, (std::vector<int>{0, 0, 84, 40}));
    EXPECT_EQ(shapes[0].combine, RegionCombine::Union);
    EXPECT_EQ(shapes[1].combine, RegionCombine::Xor);
    EXPECT_EQ(shapes[1].values, (std::vector<int>{135, 0, 363, 40}));
    EXPECT_EQ(shapes[2].kind, RegionShapeKind::Group);
    EXPECT_EQ(shapes[2].combine, RegionCombine::Intersect);
    ASSERT_EQ(shapes[2].group.size(), 2u);
    EXPECT_EQ(shapes[2].group[0].kind, RegionShapeKind::Ellipse);
    EXPECT_EQ(shapes[2].group[0].values, (std::vector<int>{0, 0, 430, 300}));
    EXPECT_EQ(shapes[2].group[1].combine, RegionCombine::Difference);
    EXPECT_EQ(shapes[2].group[1].kind, RegionShapeKind::RoundRect);
    EXPECT_EQ(shapes[3].kind, RegionShapeKind::PolygonWinding);
    // A combination applies to the next shape only.
    EXPECT_EQ(shapes[3].combine, RegionCombine::Union);
}

TEST(RegionText, ExpressionsUseTheWindowsMeasures) {
    const auto shapes = Build("R x, y, r-(w-h)/2*-1, b+-3\nR -2*(3+4), 7/2, 2*3+4, h-c");
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(shapes[0].values, (std::vector<int>{4, 8, 426 + 65, 293}));
    EXPECT_EQ(shapes[1].values, (std::vector<int>{-14, 3, 10, 270}));
}

TEST(RegionText, ErrorsNameLineAndPosition) {
    struct Case {
        const char* text;
        int line;
        int column;
    };
    const Case cases[] = {
        {"R0,0,10,10\nR0,0,10", 2, 1},    // three values
        {"R0,0,10,10/0", 1, 11},          // division by zero
        {"R0,0,10,2147483647+1", 1, 19},  // overflow
        {"R0,0,99999999999,1", 1, 6},     // a number too large
        {"Q1,2", 1, 1},                   // unknown command
        {"R0,0,(1,2", 1, 8},              // unclosed parenthesis
        {"R0,0,1,2 3", 1, 10},            // junk after a value
        {"}", 1, 1},                      // close without open
        {"{\nR0,0,1,1", 1, 1},            // never closed
        {"L0,0,1,1", 1, 1},               // two points are no polygon
        {"X 5", 1, 3},                    // an operator takes no values
        {"R0,0,Z,1", 1, 6},               // unknown measure
    };
    for (const Case& c : cases) {
        RegionError error;
        EXPECT_FALSE(BuildRegion(c.text, kWindow, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text << ": " << DescribeRegionError(error);
        EXPECT_EQ(error.column, c.column) << c.text << ": " << DescribeRegionError(error);
        EXPECT_FALSE(error.message.empty());
    }
}

// A skin's named regions for T, as its folder would give them.
NamedRegionSource Skin(std::map<std::string, std::string> files) {
    return [files = std::move(files)](std::string_view name) -> std::optional<std::string> {
        const auto it = files.find(std::string(name));
        if (it == files.end())
            return std::nullopt;
        return it->second;
    };
}

TEST(RegionText, NamedRegionsArePlacedAtTheirPoint) {
    const NamedRegionSource skin = Skin({
        {"knob", "R0,0,10,20\nD\nU1,2,3,4,5,6\nw 0,0, 4,0, 2,3"},
        {"pair", "T knob,0,0\nT knob,W-10,0"},
    });
    RegionError error;
    const auto shapes = BuildRegion("R0,0,W,H\nD\nt knob, 100, H-20", kWindow, error, skin);
    ASSERT_TRUE(shapes) << DescribeRegionError(error);
    ASSERT_EQ(shapes->size(), 2u);
    const RegionShape& placed = (*shapes)[1];
    EXPECT_EQ(placed.kind, RegionShapeKind::Group);
    EXPECT_EQ(placed.combine, RegionCombine::Difference);
    ASSERT_EQ(placed.group.size(), 3u);
    EXPECT_EQ(placed.group[0].values, (std::vector<int>{100, 280, 110, 300}));
    // A rounded rectangle's corner size does not move; a polygon's points do.
    EXPECT_EQ(placed.group[1].values, (std::vector<int>{101, 282, 103, 284, 5, 6}));
    EXPECT_EQ(placed.group[1].combine, RegionCombine::Difference);
    EXPECT_EQ(placed.group[2].values, (std::vector<int>{100, 280, 104, 280, 102, 283}));

    // A named region uses the window's measures and may place others.
    const auto nested = BuildRegion("T pair,5,5", kWindow, error, skin);
    ASSERT_TRUE(nested) << DescribeRegionError(error);
    ASSERT_EQ((*nested)[0].group.size(), 2u);
    EXPECT_EQ((*nested)[0].group[1].group[0].values, (std::vector<int>{425, 5, 435, 25}));
}

TEST(RegionText, NamedRegionFailures) {
    const NamedRegionSource skin = Skin({
        {"bad", "R0,0,1"},
        {"self", "T self,1,1"},
        {"edge", "R0,0,2147483647,1"},
    });
    struct Case {
        const char* text;
        int column;
        const char* says;
    };
    const Case cases[] = {
        {"T missing,0,0", 3, "no region \"missing\""},
        {"T ../main_form,0,0", 3, "a region name is needed"},  // never a path
        {"T sub/form,0,0", 6, "letters, digits"},
        {"T main_form.rgn,0,0", 12, "letters, digits"},
        {"T bad,0,0", 3, "in region \"bad\": line 1, position 1"},
        {"T self,0,0", 3, "nested deeper than"},  // a region naming itself ends
        {"T edge,1,0", 1, "out of range"},
        {"T bad,0", 7, "one x,y point"},
        {"T bad,0,1/0", 10, "division"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RegionError error;
        EXPECT_FALSE(BuildRegion(c.text, kWindow, error, skin));
        EXPECT_EQ(error.line, 1);
        EXPECT_EQ(error.column, c.column) << DescribeRegionError(error);
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
    }
    // Without a skin to ask there are no named regions.
    RegionError error;
    EXPECT_FALSE(BuildRegion("T knob,0,0", kWindow, error));

    // Nesting does not multiply the work: the command limit counts across
    // named regions.
    std::string placesB, placesC, leaves;
    for (int i = 0; i < 64; ++i) {
        placesB += "T b,0,0\n";
        placesC += "T c,0,0\n";
        leaves += "R0,0,1,1\n";
    }
    const NamedRegionSource fan = Skin({{"b", placesC}, {"c", leaves}});
    EXPECT_FALSE(BuildRegion(placesB, kWindow, error, fan));
    EXPECT_NE(error.message.find("too many commands"), std::string::npos)
        << DescribeRegionError(error);
}

TEST(RegionText, LimitsAreNamedAndHeld) {
    RegionError error;
    std::string deep;
    for (int i = 0; i < kMaxRegionGroupDepth; ++i)
        deep += "{\n";
    deep += "R0,0,1,1\n";
    for (int i = 0; i < kMaxRegionGroupDepth; ++i)
        deep += "}\n";
    EXPECT_TRUE(BuildRegion(deep, kWindow, error)) << DescribeRegionError(error);
    EXPECT_FALSE(BuildRegion("{\n" + deep + "}\n", kWindow, error));

    std::string parens = "R0,0,1," + std::string(kMaxExpressionNesting + 1, '(') + "1" +
                         std::string(kMaxExpressionNesting + 1, ')');
    EXPECT_FALSE(BuildRegion(parens, kWindow, error));
    EXPECT_FALSE(BuildRegion(std::string(kMaxRegionTextBytes + 1, ' '), kWindow, error));
    std::string many;
    for (std::size_t i = 0; i <= kMaxRegionCommands; ++i)
        many += "O\n";
    EXPECT_FALSE(BuildRegion(many, kWindow, error));
}

}  // namespace
}  // namespace sondrel
