// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_layout.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>

#include "batch/name_template.h"

namespace sondrel {
namespace {

FormatSlots WithPositions(const std::array<int, kOptionalColumnCount>& positions) {
    FormatSlots slots = DefaultFormatSlots();
    for (std::size_t i = 0; i < slots.size(); ++i)
        slots[i].ListPos = positions[i];
    return slots;
}

TEST(FormatSlots, StoredPositionsResetUnlessEachOnce) {
    struct Case {
        const char* what;
        std::array<int, kOptionalColumnCount> positions;
        bool reset;
    };
    const Case cases[] = {
        {"natural", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, false},
        {"shuffled", {10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}, false},
        {"duplicate", {0, 3, 2, 3, 4, 5, 6, 7, 8, 9, 10}, true},
        {"out of range", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11}, true},
        {"negative", {-1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, true},
    };
    for (const Case& c : cases) {
        FormatSlots slots = WithPositions(c.positions);
        slots[4].Visible = false;
        EXPECT_EQ(ResetPositionsIfInvalid(slots), c.reset) << c.what;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            EXPECT_EQ(slots[i].ListPos, c.reset ? static_cast<int>(i) : c.positions[i])
                << c.what << " slot " << i;
        }
        EXPECT_FALSE(slots[4].Visible) << c.what << ": ticks are not reset";
    }
}

TEST(FormatSlots, ColumnLayoutPlacesOptionalColumnsByListPosition) {
    FormatSlots slots = WithPositions({2, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10});
    slots[1].Visible = false;  // Title hidden
    const auto layout = ColumnLayout(slots, false);
    ASSERT_EQ(layout.size(), static_cast<std::size_t>(kColumnCount));
    EXPECT_EQ(layout[kColAfter].visualPos, kColAfter);
    EXPECT_FALSE(layout[kColAfter].visible) << "After shows on the first tab only";
    EXPECT_TRUE(ColumnLayout(slots, true)[kColAfter].visible);
    auto find = [&layout](int column) {
        for (const ColumnPlacement& p : layout)
            if (p.column == column)
                return p;
        return ColumnPlacement{-1, -1, false};
    };
    EXPECT_EQ(find(kColTrack).visualPos, 5);
    EXPECT_EQ(find(kColTitle).visualPos, 3);
    EXPECT_FALSE(find(kColTitle).visible);
    EXPECT_EQ(find(kColArtist).visualPos, 4);
    EXPECT_TRUE(find(kColSize).visible);
    // The export lists the visible ones in that order.
    EXPECT_EQ(VisibleSlotsInOrder(slots), (std::vector<int>{2, 0, 3, 4, 5, 6, 7, 8, 9, 10}));
}

TEST(FormatSlots, MovingListItemsSwapsPositionsAndStopsAtTheEnds) {
    FormatSlots slots = DefaultFormatSlots();
    EXPECT_EQ(MoveListItem(slots, 0, -1), -1) << "the first item cannot go up";
    EXPECT_EQ(MoveListItem(slots, 10, +1), -1) << "the last item cannot go down";
    for (std::size_t i = 0; i < slots.size(); ++i)
        EXPECT_EQ(slots[i].ListPos, static_cast<int>(i));

    EXPECT_EQ(MoveListItem(slots, 2, -1), 1);  // Artist above Title
    EXPECT_EQ(SlotAtListPos(slots, 1), 2);
    EXPECT_EQ(SlotAtListPos(slots, 2), 1);
    EXPECT_EQ(MoveListItem(slots, 1, +1), 2);  // and back
    EXPECT_EQ(SlotAtListPos(slots, 1), 1);
    EXPECT_TRUE(PositionsArePermutation(slots));
}

TEST(FormatSlots, FieldListTexts) {
    EXPECT_EQ(FieldListText(1, "Title"), "Title (%T, %1)");
    EXPECT_EQ(FieldListText(0, "Track"), "Track (%#, %0)");
    EXPECT_EQ(FieldListText(5, "Genre"), "Genre (%G)");
    EXPECT_EQ(FieldListText(10, "Size"), "Size (%S)");
    const std::pair<int, const char*> placeholders[] = {{0, "%#"},  {1, "%T"}, {3, "%L"}, {5, "%G"},
                                                        {10, "%S"}, {-1, ""},  {11, ""}};
    for (const auto& [slot, text] : placeholders)
        EXPECT_EQ(FieldPlaceholder(slot), text) << slot;
}

TEST(MoveRows, BeforeARowOrToTheEnd) {
    auto rowsNamed = [](const std::string& names) {
        std::vector<BatchRow> rows;
        for (const char c : names) {
            rows.emplace_back();
            rows.back().data.Path = std::string(1, c);
        }
        return rows;
    };
    auto names = [](const std::vector<BatchRow>& rows) {
        std::string s;
        for (const BatchRow& r : rows)
            s += r.data.Path;
        return s;
    };
    struct Case {
        std::vector<std::size_t> moved;
        std::size_t destination;
        const char* order;
        std::size_t first;
    };
    const Case cases[] = {
        {{4}, 0, "eabcd", 0},     // last to the top
        {{0}, 5, "bcdea", 4},     // first to the end
        {{1, 3}, 0, "bdace", 0},  // two apart, kept in their order
        {{3, 1}, 5, "acebd", 3},  // given in any order
        {{1, 2}, 2, "abcde", 1},  // onto itself: no change
        {{0, 9}, 3, "bcade", 2},  // an index out of range is ignored
        {{}, 2, "abcde", 2},      // nothing to move
    };
    for (const Case& c : cases) {
        std::vector<BatchRow> rows = rowsNamed("abcde");
        const std::size_t first = MoveRows(rows, c.moved, c.destination);
        EXPECT_EQ(names(rows), c.order) << c.destination;
        EXPECT_EQ(first, c.first) << c.order;
    }
}

// Rows named by one letter each; a lower-case letter is a sub-row.
std::vector<BatchRow> GroupedRows(const std::string& names) {
    std::vector<BatchRow> rows;
    for (const char c : names) {
        rows.emplace_back();
        rows.back().data.Path = std::string(1, static_cast<char>(std::toupper(c)));
        rows.back().SubRow = std::islower(static_cast<unsigned char>(c)) != 0;
    }
    return rows;
}

std::string GroupedNames(const std::vector<BatchRow>& rows) {
    std::string s;
    for (const BatchRow& r : rows)
        s += r.SubRow ? static_cast<char>(std::tolower(r.data.Path[0])) : r.data.Path[0];
    return s;
}

TEST(MoveRows, SubRowsTravelWithTheirParentAndFollowWhereTheyLand) {
    struct Case {
        std::vector<std::size_t> moved;
        std::size_t destination;
        const char* order;
        std::size_t first;
        std::size_t count;
    };
    // A, then B with its sub-rows c and d, then E.
    const Case cases[] = {
        {{1}, 5, "AEBcd", 2, 3},     // a parent takes its sub-rows along
        {{1, 2}, 0, "BcdAE", 0, 3},  // a parent and one of its own: each once
        {{4}, 2, "ABecd", 2, 1},     // landing inside a group makes a sub-row
        {{4}, 3, "ABced", 3, 1},    {{2}, 5, "ABdEC", 4, 1},  // a sub-row moved out of its group
        {{2}, 0, "CABdE", 0, 1},    {{0}, 3, "BcadE", 2, 1},  // the first row into B's group
    };
    for (const Case& c : cases) {
        std::vector<BatchRow> rows = GroupedRows("ABcdE");
        std::size_t count = 0;
        const std::size_t first = MoveRows(rows, c.moved, c.destination, &count);
        EXPECT_EQ(GroupedNames(rows), c.order) << c.destination;
        EXPECT_EQ(first, c.first) << c.order;
        EXPECT_EQ(count, c.count) << c.order;
    }
    // Whatever moves, the first row is no sub-row: it has no parent.
    std::vector<BatchRow> rows = GroupedRows("ABcdE");
    MoveRows(rows, {0, 1}, 5);
    EXPECT_EQ(GroupedNames(rows), "EABcd");
}

TEST(MoveRowsUnder, DroppedOntoARowBecomeItsSubRows) {
    struct Case {
        std::vector<std::size_t> moved;
        std::size_t target;
        const char* order;  // unchanged when nothing may move
        std::optional<std::size_t> first;
        std::size_t count = 0;
    };
    const Case cases[] = {
        {{4}, 1, "ABcde", 4, 1},          // onto a parent: after its last sub-row
        {{0}, 2, "BcadE", 2, 1},          // onto a sub-row: right after it
        {{1}, 4, "AEbcd", 2, 3},          // a parent brings its own, one level deep
        {{0, 4}, 1, "Bcdae", 3, 2},       // rows apart, kept in their order
        {{1}, 2, "ABcdE", std::nullopt},  // a parent onto its own sub-row
        {{4}, 4, "ABcdE", std::nullopt},  // onto itself
        {{4}, 9, "ABcdE", std::nullopt},  // no such row
        {{}, 1, "ABcdE", std::nullopt},
    };
    for (const Case& c : cases) {
        std::vector<BatchRow> rows = GroupedRows("ABcdE");
        std::size_t count = 0;
        const auto first = MoveRowsUnder(rows, c.moved, c.target, &count);
        EXPECT_EQ(first, c.first) << c.order;
        EXPECT_EQ(GroupedNames(rows), c.order);
        EXPECT_EQ(count, c.count) << c.order;
    }
}

TEST(FitBatchWindow, SizeRules) {
    struct Case {
        WindowBox stored;
        bool atCreation;
        WindowBox fitted;
    };
    const Case cases[] = {
        {{10, 40, 650, 446}, true, {10, 40, 650, 446}},
        {{-5, -1, 800, 500}, true, {0, 0, 800, 500}},
        {{0, 0, 2000, 500}, true, {0, 0, 650, 500}},  // wider than the screen
        {{0, 0, 600, 500}, true, {0, 0, 650, 500}},   // narrower than 650
        {{0, 0, 700, 2000}, true, {0, 0, 700, 446}},  // taller than the screen
        {{0, 0, 700, 200}, true, {0, 0, 700, 446}},   // lower than 300, at creation
        {{0, 0, 700, 200}, false, {0, 0, 700, 300}},  // on a later resize
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitBatchWindow(c.stored, 1280, 1000, c.atCreation), c.fitted)
            << c.stored.width << "x" << c.stored.height;
}

TEST(TemplateList, EmptyStoreGivesTheBuiltInList) {
    const TemplateList list = TemplateList::Load({}, 5);
    EXPECT_EQ(list.Items(), DefaultTemplates());
    EXPECT_EQ(list.Items().front(), "%A - %T");
    EXPECT_EQ(list.Selected(), 0);
}

TEST(TemplateList, LaterDuplicatesGoAndTheSelectionFallsBackToTheFirst) {
    const TemplateList list = TemplateList::Load({"%T", "%A - %T", "%t", "%T", "%A - %T"}, 4);
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"%T", "%A - %T", "%t"}))
        << "the comparison is case-sensitive";
    EXPECT_EQ(list.Selected(), 0) << "index 4 is gone";
    EXPECT_EQ(TemplateList::Load({"a", "b"}, 1).Selected(), 1);
    EXPECT_EQ(TemplateList::Load({"a", "b"}, -3).Selected(), 0);
}

TEST(TemplateList, PlusAndMinus) {
    TemplateList list = TemplateList::Load({"a", "b", "c"}, 2);
    EXPECT_FALSE(list.Add("b")) << "present: nothing";
    EXPECT_EQ(list.Items().size(), 3u);
    EXPECT_EQ(list.Selected(), 2);
    EXPECT_TRUE(list.Add("B"));
    EXPECT_EQ(list.Items().back(), "B");
    EXPECT_EQ(list.Selected(), 3);

    EXPECT_FALSE(list.Remove("x"));
    EXPECT_TRUE(list.Remove("a"));
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"b", "c", "B"}));
    EXPECT_EQ(list.Selected(), 2) << "the selection follows its item";
    EXPECT_TRUE(list.Remove("B"));
    EXPECT_EQ(list.Selected(), -1) << "the selected item went";
}

}  // namespace
}  // namespace sondrel
