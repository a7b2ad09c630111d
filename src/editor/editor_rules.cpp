// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/editor_rules.h"

#include <algorithm>
#include <filesystem>

#include "editor/file_facts.h"
#include "editor/format_registry.h"
#include "util/codepage.h"
#include "util/text.h"

namespace sondrel {

bool LessIgnoringCase(std::string_view a, std::string_view b) {
    const std::string la = LowerCase1251(a);
    const std::string lb = LowerCase1251(b);
    if (la != lb)
        return la < lb;
    return a < b;  // a stable order for texts that differ only in case
}

int GenreList::IdAt(int listPosition) const {
    if (listPosition < 0 || listPosition >= static_cast<int>(names.size()))
        return -1;
    return GenreIdOf(names[static_cast<std::size_t>(listPosition)]);
}

const GenreList& SortedGenres() {
    static const GenreList list = [] {
        GenreList l;
        l.names.assign(GenreTable.begin(), GenreTable.end());
        std::sort(l.names.begin(), l.names.end(), [](const std::string& a, const std::string& b) {
            return LessIgnoringCase(a, b);
        });
        for (std::size_t pos = 0; pos < l.names.size(); ++pos)
            l.position[GenreIdOf(l.names[pos])] = static_cast<int>(pos);
        return l;
    }();
    return list;
}

bool AddToHistory(std::vector<std::string>& list, const std::string& value,
                  const std::string& keepMarker) {
    if (std::find(list.begin(), list.end(), value) != list.end())
        return false;
    if (list.size() > kHistoryLimit)
        return false;
    const bool markerFirst = !list.empty() && list.front() == keepMarker;
    if (markerFirst)
        list.erase(list.begin());
    const auto at = std::upper_bound(
        list.begin(), list.end(), value,
        [](const std::string& v, const std::string& e) { return LessIgnoringCase(v, e); });
    list.insert(at, value);
    if (markerFirst)
        list.insert(list.begin(), keepMarker);
    return true;
}

bool UpdateKeepMarker(std::vector<std::string>& list, int selectedCount,
                      const std::string& keepMarker) {
    const bool markerFirst = !list.empty() && list.front() == keepMarker;
    if (selectedCount >= 2 && !markerFirst) {
        list.insert(list.begin(), keepMarker);
        return true;
    }
    if (selectedCount < 2 && markerFirst) {
        list.erase(list.begin());
        return true;
    }
    return false;
}

std::optional<std::string> EditOfText(const std::string& boxText, bool severalFiles,
                                      const std::string& keepMarker) {
    if (severalFiles && boxText == keepMarker)
        return std::nullopt;
    return boxText;
}

GenreEdit GenreEditOf(int selectedPosition, const std::string& boxText, bool severalFiles,
                      const std::string& keepMarker) {
    GenreEdit edit;
    if (severalFiles && boxText == keepMarker)
        return edit;  // Keep
    const int position = severalFiles ? selectedPosition - 1 : selectedPosition;
    if (selectedPosition >= 0) {
        const int id = SortedGenres().IdAt(position);
        if (id >= 0) {
            edit.kind = GenreEdit::Kind::FromList;
            edit.id = static_cast<std::uint8_t>(id);
            return edit;
        }
    }
    edit.kind = GenreEdit::Kind::Text;
    edit.text = boxText;
    return edit;
}

void ApplyEdits(TagFields& hub, const FieldEdits& e) {
    for (const auto& entry : kFieldTable) {
        if (entry.field != Field::Genre && e[entry.field])
            hub[entry.field] = *e[entry.field];
    }
    switch (e.genre.kind) {
        case GenreEdit::Kind::Keep:
            break;
        case GenreEdit::Kind::FromList:
            hub.GenreID = ClampGenreId(e.genre.id);
            // With GenreID 12 every format writes the genre text, so a
            // chosen "Other" must replace a text from outside the table.
            if (hub.GenreID == kGenreOther)
                hub.Genre = GenreTable[kGenreOther];
            break;
        case GenreEdit::Kind::Text:
            hub.GenreID = GenreIdOf(e.genre.text);
            if (hub.GenreID == kGenreOther && e.genre.text != GenreTable[kGenreOther])
                hub.Genre = e.genre.text;
            break;
    }
}

bool ShowsSaveErrorBox(bool showErrors, const SaveOutcome& outcome) {
    return showErrors && !outcome.ok;
}

std::string SaveFailureReason(const SaveOutcome& outcome) {
    // Components say "Error" when they have nothing better; that names no reason.
    if (outcome.error.empty() || outcome.error == "Error")
        return "the file could not be written (no reason given)";
    return outcome.error;
}

std::string SaveFailureMessage(const SaveFailure& failure) {
    return "Can't save the tags of \"" + std::filesystem::path(failure.path).filename().string() +
           "\" (" + failure.path + "):\n" + failure.reason;
}

std::string SaveFailureSummary(std::span<const SaveFailure> failures, int attempted) {
    std::string out = "Can't save the tags of " + std::to_string(failures.size()) + " of " +
                      std::to_string(attempted) + " files:";
    for (const SaveFailure& f : failures)
        out += "\n" + f.path + ": " + f.reason;
    return out;
}

bool ExceedsId3v1(std::string_view text) {
    return Utf8Length(text) > kId3v1TextWidth;
}

std::string FirstLine(std::string_view text) {
    const std::size_t end = text.find_first_of("\r\n");
    return std::string(text.substr(0, end));
}

std::string ReplaceFirstLine(std::string_view text, std::string_view line) {
    const std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos)
        return std::string(line);
    return std::string(line) + std::string(text.substr(end));
}

std::string GroupedNumber(std::int64_t value) {
    const bool negative = value < 0;
    // Digits from the magnitude as unsigned, so the smallest value has one too.
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    std::string out;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += ' ';
        out += digits[i];
    }
    return negative ? "-" + out : out;
}

InfoRows InfoRowsOf(TagBridge& bridge, TagFormat format, const std::string& path) {
    InfoRows rows{};
    if (const FormatHandler* h = HandlerOf(format))
        h->FillInfoRows(bridge, h->Stream(bridge, nullptr, path), rows);
    return rows;
}

}  // namespace sondrel
