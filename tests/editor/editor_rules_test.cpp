// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/editor_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace sondrel {
namespace {

const std::string kKeep = "<keep>";

TEST(GenreList, SortedWithoutRegardToCaseWithOtherAt95) {
    const GenreList& g = SortedGenres();
    ASSERT_EQ(g.names.size(), kGenreCount);
    EXPECT_TRUE(std::is_sorted(g.names.begin(), g.names.end(), LessIgnoringCase));
    EXPECT_EQ(g.position[kGenreOther], 95);
    // Every id maps to a position holding its own name, and back.
    for (unsigned id = 0; id < kGenreCount; ++id) {
        const int pos = g.position[id];
        EXPECT_EQ(g.names[static_cast<std::size_t>(pos)], GenreNameOf(id));
        EXPECT_EQ(g.IdAt(pos), static_cast<int>(id));
    }
    EXPECT_EQ(g.IdAt(-1), -1);
    EXPECT_EQ(g.IdAt(kGenreCount), -1);
    // "AlternRock" sorts among the A's despite its capitals.
    EXPECT_LT(g.position[GenreIdOf("AlternRock")], g.position[GenreIdOf("Ambient")]);
}

TEST(History, AddsInSortedPlaceOnceAndKeepsTheMarkerFirst) {
    std::vector<std::string> list = {kKeep, "apple", "Cherry"};
    EXPECT_TRUE(AddToHistory(list, "banana", kKeep));
    EXPECT_EQ(list, (std::vector<std::string>{kKeep, "apple", "banana", "Cherry"}));
    EXPECT_FALSE(AddToHistory(list, "banana", kKeep));
    // Exact text decides: another case is another entry.
    EXPECT_TRUE(AddToHistory(list, "Banana", kKeep));
    EXPECT_EQ(list.size(), 5u);
    EXPECT_EQ(list.front(), kKeep);
    // An empty value is a value like any other (it sorts first after the marker).
    EXPECT_TRUE(AddToHistory(list, "", kKeep));
    EXPECT_EQ(list[1], "");
}

TEST(History, StopsGrowingPastTheLimit) {
    std::vector<std::string> list;
    for (std::size_t i = 0; i < kHistoryLimit; ++i)
        list.push_back("v" + std::to_string(1000 + i));
    EXPECT_TRUE(AddToHistory(list, "one more", kKeep));  // 100 entries still take one
    EXPECT_EQ(list.size(), kHistoryLimit + 1);
    EXPECT_FALSE(AddToHistory(list, "too many", kKeep));
    EXPECT_EQ(list.size(), kHistoryLimit + 1);
}

TEST(KeepMarker, FirstWhileSeveralFilesAreSelected) {
    struct Case {
        std::vector<std::string> before;
        int selected;
        std::vector<std::string> after;
        bool changed;
    };
    const Case cases[] = {
        {{"a"}, 2, {kKeep, "a"}, true},
        {{kKeep, "a"}, 3, {kKeep, "a"}, false},
        {{kKeep, "a"}, 1, {"a"}, true},
        {{kKeep, "a"}, 0, {"a"}, true},
        {{"a", kKeep}, 1, {"a", kKeep}, false},  // only a first entry is the marker
        {{}, 2, {kKeep}, true},
        {{}, 1, {}, false},
    };
    for (const auto& c : cases) {
        auto list = c.before;
        EXPECT_EQ(UpdateKeepMarker(list, c.selected, kKeep), c.changed);
        EXPECT_EQ(list, c.after) << c.selected;
    }
}

TEST(Edits, TheMarkerKeepsAFieldOnlyWhenSeveralFilesAreSelected) {
    EXPECT_FALSE(EditOfText(kKeep, true, kKeep).has_value());
    EXPECT_EQ(EditOfText(kKeep, false, kKeep), kKeep);
    EXPECT_EQ(EditOfText("", true, kKeep), "");
    EXPECT_EQ(EditOfText("x", true, kKeep), "x");
}

TEST(Edits, GenreFromTheListIsShiftedByTheMarker) {
    const int blues = SortedGenres().position[0];
    // With several files the marker is entry 0, so Blues sits one lower.
    GenreEdit e = GenreEditOf(blues + 1, "Blues", true, kKeep);
    EXPECT_EQ(e.kind, GenreEdit::Kind::FromList);
    EXPECT_EQ(e.id, 0);
    e = GenreEditOf(blues, "Blues", false, kKeep);
    EXPECT_EQ(e.kind, GenreEdit::Kind::FromList);
    EXPECT_EQ(e.id, 0);
    EXPECT_EQ(GenreEditOf(0, kKeep, true, kKeep).kind, GenreEdit::Kind::Keep);
    e = GenreEditOf(-1, "Trip Rock", true, kKeep);
    EXPECT_EQ(e.kind, GenreEdit::Kind::Text);
    EXPECT_EQ(e.text, "Trip Rock");
}

TEST(Edits, ApplyLeavesKeptFieldsAndGenreTextAlone) {
    TagFields hub;
    hub.title = "Old";
    hub.artist = "Artist";
    hub.Genre = "(17)Rock";
    hub.GenreID = 17;
    hub.ImagesCount = 2;
    FieldEdits e;
    e[Field::Title] = "New";
    e.genre.kind = GenreEdit::Kind::FromList;
    e.genre.id = 0;
    ApplyEdits(hub, e);
    EXPECT_EQ(hub.title, "New");
    EXPECT_EQ(hub.artist, "Artist");
    EXPECT_EQ(hub.GenreID, 0);
    EXPECT_EQ(hub.Genre, "(17)Rock");  // a list choice sets only the number
    EXPECT_EQ(hub.ImagesCount, 2);

    FieldEdits typed;
    typed.genre.kind = GenreEdit::Kind::Text;
    typed.genre.text = "Trip Rock";
    ApplyEdits(hub, typed);
    EXPECT_EQ(hub.GenreID, kGenreOther);
    EXPECT_EQ(hub.Genre, "Trip Rock");
    EXPECT_EQ(hub.title, "New");
}

TEST(SaveErrors, EveryFailureIsShownWithTheOptionOnWhateverItsText) {
    struct Case {
        bool option;
        SaveOutcome outcome;
        bool shown;
    };
    // The texts the components really give: several of them never say "error".
    const Case cases[] = {
        {true, {false, "Error while writing"}, true},
        {true, {false, "File does not exist!"}, true},
        {true, {false, "Not an Ogg Vorbis file"}, true},
        {true, {false, ""}, true},
        {true, {true, ""}, false},
        {true, {true, "Error in a text a success carried"}, false},
        {false, {false, "Error while writing"}, false},
        {false, {false, "File does not exist!"}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShowsSaveErrorBox(c.option, c.outcome), c.shown) << c.outcome.error;
}

TEST(SaveErrors, MessagesNameTheFileAndTheReason) {
    EXPECT_EQ(SaveFailureReason({false, "Permission denied"}), "Permission denied");
    // A failure without a text of its own still gives a reason.
    for (const char* bare : {"", "Error"}) {
        const std::string reason = SaveFailureReason({false, bare});
        EXPECT_FALSE(reason.empty());
        EXPECT_NE(reason, bare);
    }
    const std::string one = SaveFailureMessage({"/music/a b.ogg", "Not an Ogg Vorbis file"});
    EXPECT_NE(one.find("\"a b.ogg\""), std::string::npos) << one;
    EXPECT_NE(one.find("/music/a b.ogg"), std::string::npos) << one;
    EXPECT_NE(one.find("Not an Ogg Vorbis file"), std::string::npos) << one;

    const SaveFailure failures[] = {{"/m/1.ogg", "damaged page"}, {"/m/2.mp3", "disk full"}};
    const std::string summary = SaveFailureSummary(failures, 5);
    EXPECT_NE(summary.find("2 of 5"), std::string::npos) << summary;
    // Each file with its own reason, on a line of its own.
    EXPECT_NE(summary.find("\n/m/1.ogg: damaged page"), std::string::npos) << summary;
    EXPECT_NE(summary.find("\n/m/2.mp3: disk full"), std::string::npos) << summary;
}

TEST(ColourHints, CountsCharactersNotBytes) {
    EXPECT_FALSE(ExceedsId3v1(std::string(30, 'a')));
    EXPECT_TRUE(ExceedsId3v1(std::string(31, 'a')));
    std::string cyrillic;
    for (int i = 0; i < 30; ++i)
        cyrillic += "\xD0\x96";  // 60 bytes, 30 characters
    EXPECT_FALSE(ExceedsId3v1(cyrillic));
}

TEST(Comment, FirstLineAndItsReplacement) {
    EXPECT_EQ(FirstLine("one\r\ntwo"), "one");
    EXPECT_EQ(FirstLine("one\ntwo"), "one");
    EXPECT_EQ(FirstLine("single"), "single");
    EXPECT_EQ(ReplaceFirstLine("one\r\ntwo\nthree", "ONE"), "ONE\r\ntwo\nthree");
    EXPECT_EQ(ReplaceFirstLine("one", "x"), "x");
    EXPECT_EQ(ReplaceFirstLine("", "x"), "x");
}

TEST(Grouping, SpaceBetweenGroupsOfThree) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {999, "999"},
        {1000, "1 000"},
        {1234567, "1 234 567"},
        {100000, "100 000"},
        {-1234, "-1 234"},
        {INT64_MIN, "-9 223 372 036 854 775 808"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(GroupedNumber(value), text) << value;
}

}  // namespace
}  // namespace sondrel
