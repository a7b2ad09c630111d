// SPDX-License-Identifier: GPL-3.0-or-later
// What the batch window keeps between runs besides the rows: the optional
// columns' slots (where each sits in the fields list, whether it is shown),
// the column layout they give the table, and the stored name-template list.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_row.h"

namespace sondrel {

// One optional column (slot i is column i + 3).
struct FormatSlot {
    int ListPos = 0;  // position in the fields list, 0..10
    bool Visible = true;
    int Width = 50;  // stored with the slot and written back as it was read
};
using FormatSlots = std::array<FormatSlot, kOptionalColumnCount>;

// Every slot visible at its own position.
FormatSlots DefaultFormatSlots();
// Whether the positions are each of 0..10 exactly once.
bool PositionsArePermutation(const FormatSlots& slots);
// Stored positions that are not a permutation (a duplicate, a gap, a value
// out of range) all go back to the natural order; true when they did.
bool ResetPositionsIfInvalid(FormatSlots& slots);

// Where one table column goes and whether it shows.
struct ColumnPlacement {
    int column = 0;
    int visualPos = 0;
    bool visible = true;
};
// Columns 0..2 stay at 0..2 ("After" shown on the first tab only); column
// i + 3 goes to ListPos + 3 and shows exactly when its slot is visible.
std::vector<ColumnPlacement> ColumnLayout(const FormatSlots& slots, bool firstTab);
// The visible slots in display order (what an export lists after the path).
std::vector<int> VisibleSlotsInOrder(const FormatSlots& slots);

// The slot shown at a fields-list position, or -1.
int SlotAtListPos(const FormatSlots& slots, int pos);
// Moves the item at `pos` one place up (delta -1) or down (+1) by swapping
// the two slots' positions; the first item cannot go up nor the last down.
// Returns the item's new position, or -1 when nothing moved.
int MoveListItem(FormatSlots& slots, int pos, int delta);

// Placeholder letter and digit of a slot ('\0' for Genre and Size, which
// have no digit).
char SlotLetter(int slot);
char SlotDigit(int slot);
// What dragging a fields-list item onto a template or expression box
// appends: "%" and the slot's letter; empty for no slot.
std::string FieldPlaceholder(int slot);
// The fields list's text of a slot: "Title (%T, %1)", "Genre (%G)".
std::string FieldListText(int slot, std::string_view caption);

// Moves the rows at `indices` (in their current order) to stand before the
// row that is now at `destination` (rows.size() for the end); returns the
// new index of the first moved row. Indices out of range are ignored. A
// moved parent takes its sub-rows along; moved rows become sub-rows when
// they land before a sub-row (inside its parent's group), and otherwise
// stay sub-rows only when their parent moved with them. `count`, when
// given, gets the number of rows moved.
std::size_t MoveRows(std::vector<BatchRow>& rows, std::vector<std::size_t> indices,
                     std::size_t destination, std::size_t* count = nullptr);
// A drop onto the row at `target`: the moved rows (parents with their
// sub-rows) become sub-rows of the target's parent, placed after the target
// when it is a sub-row, else after the parent's last sub-row. Nothing moves
// when the target or its parent is among them; then the result is empty.
// Returns the first moved row's new index.
std::optional<std::size_t> MoveRowsUnder(std::vector<BatchRow>& rows,
                                         std::vector<std::size_t> indices, std::size_t target,
                                         std::size_t* count = nullptr);

// The window's place and size, by its size rules: a negative left or top
// becomes 0; wider than the screen or narrower than 650 becomes 650 wide;
// taller than the screen or lower than 300 becomes 446 high when the
// window is created and 300 high on a later resize.
struct WindowBox {
    int left = 10;
    int top = 40;
    int width = 650;
    int height = 446;
    bool operator==(const WindowBox&) const = default;
};
WindowBox FitBatchWindow(WindowBox box, int screenWidth, int screenHeight, bool atCreation);

// The user's name templates. Loading drops later duplicates (exact,
// case-sensitive) and falls back to the built-in list when nothing was
// stored; "+" appends the text unless present, "−" removes its first copy.
class TemplateList {
public:
    static TemplateList Load(std::vector<std::string> stored, int selected);

    const std::vector<std::string>& Items() const { return items_; }
    // -1 when no item is selected (after "−" removed the selected one).
    int Selected() const { return selected_; }
    void Select(int index);
    // The "+" button: appended and selected when not yet present.
    bool Add(const std::string& text);
    // The "−" button: the first item equal to `text` removed.
    bool Remove(const std::string& text);

private:
    std::vector<std::string> items_;
    int selected_ = 0;
};

}  // namespace sondrel
