// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "editor/editor_rules.h"

namespace sondrel {
namespace {

// "Other" chosen in the list over a genre outside the table: the formats
// write the genre text whenever GenreID is 12, so the text must change too,
// or the save silently keeps the old genre.
TEST(ReviewEdits, OtherChosenFromTheListReplacesAForeignGenreText) {
    struct Case {
        std::uint8_t chosen;
        std::string textBefore;
        std::string textAfter;
    };
    const Case cases[] = {
        {kGenreOther, "Trip Rock", "Other"},
        {kGenreOther, "", "Other"},
        // Any other choice sets the number only; the table name is written for it.
        {17, "Trip Rock", "Trip Rock"},
    };
    for (const auto& c : cases) {
        TagFields hub;
        hub.GenreID = kGenreOther;
        hub.Genre = c.textBefore;
        FieldEdits e;
        e.genre.kind = GenreEdit::Kind::FromList;
        e.genre.id = c.chosen;
        ApplyEdits(hub, e);
        EXPECT_EQ(hub.GenreID, c.chosen) << c.textBefore;
        EXPECT_EQ(hub.Genre, c.textAfter) << c.textBefore;
    }
}

}  // namespace
}  // namespace sondrel
