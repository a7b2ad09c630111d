#include "appearance/region_text.h"

#include <gtest/gtest.h>

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
