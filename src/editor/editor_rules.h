// SPDX-License-Identifier: GPL-3.0-or-later
// The tag editor's rules that need no widget: the sorted genre list and its
// positions, the history lists, the keep marker, the edits a save applies to
// each file, the save-error report, the colour hints, the comment's first
// line, and the information window's rows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "editor/format_bridge.h"

namespace sondrel {

// A history list takes a new value only while it holds at most this many.
inline constexpr std::size_t kHistoryLimit = 100;
// Longer titles, artists, albums and comments do not fit an ID3v1 block.
inline constexpr std::size_t kId3v1TextWidth = 30;
inline constexpr int kInfoRowCount = 18;

// The genre box's list: the 148 names sorted without regard to case, and for
// each GenreID its position in that list.
struct GenreList {
    std::vector<std::string> names;
    std::array<int, kGenreCount> position{};
    // The GenreID at a list position, or -1 outside the list.
    int IdAt(int listPosition) const;
};
const GenreList& SortedGenres();

// Case-insensitive ordering of the history lists and the genre list.
bool LessIgnoringCase(std::string_view a, std::string_view b);

// Adds `value` to a history list unless it is already there (exact text) or
// the list is full; the keep marker, when first, stays first. True when added.
bool AddToHistory(std::vector<std::string>& list, const std::string& value,
                  const std::string& keepMarker);

// The keep marker becomes the first entry while two or more files are
// selected and leaves otherwise. True when the list changed.
bool UpdateKeepMarker(std::vector<std::string>& list, int selectedCount,
                      const std::string& keepMarker);

// What a save does with the genre.
struct GenreEdit {
    enum class Kind { Keep, FromList, Text };
    Kind kind = Kind::Keep;
    std::uint8_t id = kGenreOther;  // FromList
    std::string text;               // Text
};

// The fields a save writes into each file; nullopt leaves the file's value.
// The text fields by the field table; the genre slot of the values is unused,
// `genre` says what happens to it.
struct FieldEdits : PerField<std::optional<std::string>> {
    GenreEdit genre;
};

// A box's text as an edit: with several files selected the keep marker
// means "leave unchanged"; with one file every text is written.
std::optional<std::string> EditOfText(const std::string& boxText, bool severalFiles,
                                      const std::string& keepMarker);

// The genre box as an edit. `selectedPosition` is the list position of the
// selected item (-1 for none); with several files the marker is the list's
// first entry, so the genre names sit one lower.
GenreEdit GenreEditOf(int selectedPosition, const std::string& boxText, bool severalFiles,
                      const std::string& keepMarker);

// A genre from the list sets only the number (the file's genre text stays,
// except that "Other" also replaces it);
// a typed genre outside the table goes in as text with GenreID 12.
void ApplyEdits(TagFields& hub, const FieldEdits& edits);

// A failed save is reported whenever "Show errors" is on, whatever its text says;
// a success never is.
bool ShowsSaveErrorBox(bool showErrors, const SaveOutcome& outcome);
// The reason a failed save gives, never empty.
std::string SaveFailureReason(const SaveOutcome& outcome);

// One file a save could not write, and why.
struct SaveFailure {
    std::string path;
    std::string reason;
};
// The message for one failed file: its name and the reason.
std::string SaveFailureMessage(const SaveFailure& failure);
// The message after a several-file save: each failed file on a line of its own.
std::string SaveFailureSummary(std::span<const SaveFailure> failures, int attempted);

// More characters than an ID3v1 block holds.
bool ExceedsId3v1(std::string_view text);

// The comment box shows the first line of the comment; typing there
// replaces that line.
std::string FirstLine(std::string_view text);
std::string ReplaceFirstLine(std::string_view text, std::string_view line);

// 1234567 -> "1 234 567".
std::string GroupedNumber(std::int64_t value);

// The value column of the information window for the file just read by
// `bridge` (for MP3 this runs the MPEG analysis on `path`). Rows that do
// not apply to the format are empty.
using InfoRows = std::array<std::string, kInfoRowCount>;
InfoRows InfoRowsOf(TagBridge& bridge, TagFormat format, const std::string& path);

}  // namespace sondrel
