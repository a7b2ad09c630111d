// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_layout.h"

#include <algorithm>

#include "batch/name_template.h"

namespace sondrel {

namespace {

struct SlotKeys {
    char letter;
    char digit;
};
constexpr std::array<SlotKeys, kOptionalColumnCount> kSlotKeys = {{
    {'#', '0'},
    {'T', '1'},
    {'A', '2'},
    {'L', '3'},
    {'Y', '4'},
    {'G', '\0'},
    {'C', '6'},
    {'B', '7'},
    {'F', '8'},
    {'D', '9'},
    {'S', '\0'},
}};

bool ValidSlot(int slot) {
    return slot >= 0 && slot < kOptionalColumnCount;
}

}  // namespace

FormatSlots DefaultFormatSlots() {
    FormatSlots slots;
    for (int i = 0; i < kOptionalColumnCount; ++i)
        slots[static_cast<std::size_t>(i)].ListPos = i;
    return slots;
}

bool PositionsArePermutation(const FormatSlots& slots) {
    std::array<bool, kOptionalColumnCount> seen{};
    for (const FormatSlot& s : slots) {
        if (!ValidSlot(s.ListPos) || seen[static_cast<std::size_t>(s.ListPos)])
            return false;
        seen[static_cast<std::size_t>(s.ListPos)] = true;
    }
    return true;
}

bool ResetPositionsIfInvalid(FormatSlots& slots) {
    if (PositionsArePermutation(slots))
        return false;
    for (int i = 0; i < kOptionalColumnCount; ++i)
        slots[static_cast<std::size_t>(i)].ListPos = i;
    return true;
}

std::vector<ColumnPlacement> ColumnLayout(const FormatSlots& slots, bool firstTab) {
    std::vector<ColumnPlacement> out = {{kColFlag, kColFlag, true},
                                        {kColBefore, kColBefore, true},
                                        {kColAfter, kColAfter, firstTab}};
    for (int i = 0; i < kOptionalColumnCount; ++i) {
        const FormatSlot& s = slots[static_cast<std::size_t>(i)];
        if (s.ListPos < 0)
            continue;
        out.push_back({i + kFirstOptionalColumn, s.ListPos + kFirstOptionalColumn, s.Visible});
    }
    return out;
}

std::vector<int> VisibleSlotsInOrder(const FormatSlots& slots) {
    std::vector<int> order;
    for (int pos = 0; pos < kOptionalColumnCount; ++pos) {
        const int slot = SlotAtListPos(slots, pos);
        if (slot >= 0 && slots[static_cast<std::size_t>(slot)].Visible)
            order.push_back(slot);
    }
    return order;
}

int SlotAtListPos(const FormatSlots& slots, int pos) {
    for (int i = 0; i < kOptionalColumnCount; ++i) {
        if (slots[static_cast<std::size_t>(i)].ListPos == pos)
            return i;
    }
    return -1;
}

int MoveListItem(FormatSlots& slots, int pos, int delta) {
    const int target = pos + delta;
    if ((delta != -1 && delta != 1) || !ValidSlot(pos) || !ValidSlot(target))
        return -1;
    const int a = SlotAtListPos(slots, pos);
    const int b = SlotAtListPos(slots, target);
    if (a < 0 || b < 0)
        return -1;
    std::swap(slots[static_cast<std::size_t>(a)].ListPos,
              slots[static_cast<std::size_t>(b)].ListPos);
    return target;
}

char SlotLetter(int slot) {
    return ValidSlot(slot) ? kSlotKeys[static_cast<std::size_t>(slot)].letter : '\0';
}

char SlotDigit(int slot) {
    return ValidSlot(slot) ? kSlotKeys[static_cast<std::size_t>(slot)].digit : '\0';
}

std::string FieldPlaceholder(int slot) {
    return ValidSlot(slot) ? std::string{'%', SlotLetter(slot)} : std::string();
}

std::string FieldListText(int slot, std::string_view caption) {
    std::string text(caption);
    text += " (%";
    text += SlotLetter(slot);
    if (const char digit = SlotDigit(slot)) {
        text += ", %";
        text += digit;
    }
    return text + ")";
}

namespace {

// The given indices in range, sorted, once each, with the sub-rows of every
// parent among them.
std::vector<std::size_t> WithSubRows(const std::vector<BatchRow>& rows,
                                     std::vector<std::size_t> indices) {
    std::vector<bool> chosen(rows.size(), false);
    for (const std::size_t i : indices) {
        if (i < rows.size())
            chosen[i] = true;
    }
    const std::vector<std::size_t> parents = ParentsOf(rows);
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (chosen[i] || chosen[parents[i]])
            out.push_back(i);
    }
    return out;
}

// Moves the rows at the sorted `indices` to stand before `destination`;
// returns where the first of them went.
std::size_t MoveIndices(std::vector<BatchRow>& rows, const std::vector<std::size_t>& indices,
                        std::size_t destination) {
    destination = std::min(destination, rows.size());
    std::vector<BatchRow> moved;
    std::vector<BatchRow> rest;
    std::size_t insertAt = 0;
    std::size_t next = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i == destination)
            insertAt = rest.size();
        if (next < indices.size() && indices[next] == i) {
            moved.push_back(std::move(rows[i]));
            ++next;
        } else {
            rest.push_back(std::move(rows[i]));
        }
    }
    if (destination == rows.size())
        insertAt = rest.size();
    rest.insert(rest.begin() + static_cast<std::ptrdiff_t>(insertAt),
                std::make_move_iterator(moved.begin()), std::make_move_iterator(moved.end()));
    rows = std::move(rest);
    return insertAt;
}

}  // namespace

std::size_t MoveRows(std::vector<BatchRow>& rows, std::vector<std::size_t> indices,
                     std::size_t destination, std::size_t* count) {
    indices = WithSubRows(rows, std::move(indices));
    destination = std::min(destination, rows.size());
    const std::vector<std::size_t> parents = ParentsOf(rows);
    std::vector<bool> moving(rows.size(), false);
    for (const std::size_t i : indices)
        moving[i] = true;
    // The row the moved ones will stand before once they have left.
    std::size_t anchor = destination;
    while (anchor < rows.size() && moving[anchor])
        ++anchor;
    const bool intoGroup = anchor < rows.size() && parents[anchor] != anchor;
    for (const std::size_t i : indices) {
        const bool parentMoves = parents[i] != i && moving[parents[i]];
        rows[i].SubRow = intoGroup || parentMoves;
    }
    const std::size_t first = MoveIndices(rows, indices, destination);
    if (!rows.empty())
        rows.front().SubRow = false;
    if (count)
        *count = indices.size();
    return first;
}

std::optional<std::size_t> MoveRowsUnder(std::vector<BatchRow>& rows,
                                         std::vector<std::size_t> indices, std::size_t target,
                                         std::size_t* count) {
    if (target >= rows.size())
        return std::nullopt;
    indices = WithSubRows(rows, std::move(indices));
    const std::vector<std::size_t> parents = ParentsOf(rows);
    const std::size_t parent = parents[target];
    for (const std::size_t i : indices) {
        if (i == target || i == parent)
            return std::nullopt;
    }
    if (indices.empty())
        return std::nullopt;
    std::size_t destination = target + 1;
    if (target == parent) {
        while (destination < rows.size() && parents[destination] == parent)
            ++destination;
    }
    for (const std::size_t i : indices)
        rows[i].SubRow = true;
    const std::size_t first = MoveIndices(rows, indices, destination);
    if (count)
        *count = indices.size();
    return first;
}

WindowBox FitBatchWindow(WindowBox box, int screenWidth, int screenHeight, bool atCreation) {
    constexpr int kMinWidth = 650;
    constexpr int kMinHeight = 300;
    constexpr int kCreatedHeight = 446;
    box.left = std::max(box.left, 0);
    box.top = std::max(box.top, 0);
    if (box.width > screenWidth || box.width < kMinWidth)
        box.width = kMinWidth;
    if (box.height > screenHeight || box.height < kMinHeight)
        box.height = atCreation ? kCreatedHeight : kMinHeight;
    return box;
}

TemplateList TemplateList::Load(std::vector<std::string> stored, int selected) {
    TemplateList list;
    if (stored.empty()) {
        stored = DefaultTemplates();
        selected = 0;
    }
    for (std::string& item : stored) {
        if (std::find(list.items_.begin(), list.items_.end(), item) == list.items_.end())
            list.items_.push_back(std::move(item));
    }
    list.selected_ = 0;
    list.Select(selected);
    if (list.selected_ < 0)
        list.selected_ = 0;
    return list;
}

void TemplateList::Select(int index) {
    selected_ = index >= 0 && index < static_cast<int>(items_.size()) ? index : -1;
}

bool TemplateList::Add(const std::string& text) {
    if (std::find(items_.begin(), items_.end(), text) != items_.end())
        return false;
    items_.push_back(text);
    selected_ = static_cast<int>(items_.size()) - 1;
    return true;
}

bool TemplateList::Remove(const std::string& text) {
    const auto it = std::find(items_.begin(), items_.end(), text);
    if (it == items_.end())
        return false;
    const int index = static_cast<int>(it - items_.begin());
    items_.erase(it);
    if (selected_ == index)
        selected_ = -1;
    else if (selected_ > index)
        --selected_;
    return true;
}

}  // namespace sondrel
