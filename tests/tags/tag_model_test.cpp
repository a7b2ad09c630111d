// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/tag_model.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

namespace sondrel {
namespace {

TEST(GenreTable, HasUniqueNamesAtTheFixedPositions) {
    ASSERT_EQ(GenreTable.size(), 148u);
    std::set<std::string_view> seen(GenreTable.begin(), GenreTable.end());
    EXPECT_EQ(seen.size(), GenreTable.size()) << "a duplicate name would shadow a later index";

    // Spot checks at the block boundaries and the spellings that differ from
    // the usual ones, since callers store the index, not the name.
    const struct {
        unsigned id;
        const char* name;
    } fixed[] = {{0, "Blues"},        {12, "Other"},       {17, "Rock"},
                 {40, "AlternRock"},  {67, "Psychadelic"}, {79, "Hard Rock"},
                 {80, "Folk"},        {85, "Bebob"},       {93, "Psychedelic Rock"},
                 {123, "A Cappella"}, {132, "BritPop"},    {140, "Contemporary Christian"},
                 {146, "JPop"},       {147, "Synthpop"}};
    for (const auto& c : fixed)
        EXPECT_EQ(GenreTable[c.id], c.name) << "id " << c.id;
}

TEST(GenreIdOf, MatchesExactlyAndCaseSensitively) {
    const struct {
        const char* name;
        unsigned id;
    } cases[] = {
        {"Rock", 17},
        {"rock", 12},
        {"Psychadelic", 67},
        {"Psychedelic", 12},
        {"Blues", 0},
        {"Synthpop", 147},
        {"", 12},
        {"Rock ", 12},
        {"Other", 12},
        {"Hard Rock", 79},
        {"Folk-Rock", 81},
        {"Drum & Bass", 127},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GenreIdOf(c.name), c.id) << c.name;
}

TEST(GenreIdOf, RoundTripsEveryName) {
    for (unsigned id = 0; id < GenreTable.size(); ++id)
        EXPECT_EQ(GenreIdOf(GenreNameOf(id)), id) << GenreTable[id];
}

TEST(GenreNameOf, OutOfRangeIsOther) {
    for (unsigned id : {148u, 200u, 255u, 256u, 0xFFFFFFFFu})
        EXPECT_EQ(GenreNameOf(id), "Other") << id;
    EXPECT_EQ(GenreNameOf(147), "Synthpop");
}

TEST(ClampGenreId, KeepsTheTableRangeAndSubstitutesOther) {
    const struct {
        long long in;
        unsigned out;
    } cases[] = {{0, 0},    {147, 147}, {148, 12},  {200, 12},      {255, 12},
                 {256, 12}, {-1, 12},   {-256, 12}, {1LL << 40, 12}};
    for (const auto& c : cases)
        EXPECT_EQ(ClampGenreId(c.in), c.out) << c.in;
}

// A minimal component to show the base class's failure and event plumbing.
class Probe : public TagComponent {
public:
    void fail(const std::string& m, bool notify) { Fail(m, notify); }
    void fail(const std::string& what, const std::string& reason) { Fail(what, reason); }
    void change() { Changed(); }
    void rename() { FileNameChanged(); }
    template <typename F>
    bool guard(const std::string& m, F&& f) {
        return Guard(m, std::forward<F>(f));
    }
};

TEST(TagComponent, FailureAndEventsReachTheHandlers) {
    Probe p;
    // Without handlers nothing may crash.
    p.fail("first", true);
    p.change();
    p.rename();
    EXPECT_EQ(p.Error(), "first");

    int errors = 0, changes = 0, renames = 0;
    std::string lastError;
    p.onError = [&](TagComponent& sender, const std::string& e) {
        EXPECT_EQ(&sender, &p);
        ++errors;
        lastError = e;
    };
    p.onChange = [&](TagComponent&) { ++changes; };
    p.onFileNameChange = [&](TagComponent&) { ++renames; };

    p.fail("quiet", false);
    EXPECT_EQ(p.Error(), "quiet");
    EXPECT_EQ(errors, 0);
    p.fail("loud", true);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(lastError, "loud");
    p.change();
    p.rename();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(renames, 1);

    p.setEditAutoSave(true);
    EXPECT_TRUE(p.EditAutoSave());
}

// A failure reads "what failed: the system's reason", whoever glued the
// reason together below the component.
TEST(TagComponent, FailuresNameWhatFailedAndTheSystemsReason) {
    const struct {
        const char* what;
        std::string reason;
        const char* text;
    } cases[] = {
        {"Saving to file", "write failed: No space left on device",
         "Saving to file: No space left on device"},
        {"Saving to file", "No space left on device", "Saving to file: No space left on device"},
        {"File error!", "", "File error!"},
        {"", "cannot open: Permission denied", "Permission denied"},
        // A component's own message as the reason keeps every word.
        {"Cannot save", "Damaged ASF header: its size does not fit the file",
         "Cannot save: Damaged ASF header: its size does not fit the file"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FailureText(c.what, c.reason), c.text) << c.what << " / " << c.reason;
        Probe p;
        std::string reported;
        p.onError = [&](TagComponent&, const std::string& e) { reported = e; };
        p.fail(c.what, c.reason);
        EXPECT_EQ(p.Error(), c.text);
        EXPECT_EQ(reported, c.text);
    }
    // The reason as the file layer really words it.
    std::string openError;
    ASSERT_FALSE(File::Open("/nonexistent/folder/song.mp3", File::Mode::Read, &openError));
    EXPECT_EQ(FailureText("Reading the tag", openError),
              "Reading the tag: " + std::string(std::strerror(ENOENT)));
}

TEST(TagComponent, GuardTurnsExceptionsIntoFailures) {
    Probe p;
    int errors = 0;
    p.onError = [&](TagComponent&, const std::string&) { ++errors; };
    EXPECT_TRUE(p.guard("unused", [] { return true; }));
    EXPECT_EQ(errors, 0);
    EXPECT_FALSE(p.guard("boom", []() -> bool { throw std::runtime_error("x"); }));
    EXPECT_EQ(p.Error(), "boom");
    EXPECT_EQ(errors, 1);

    // A handler that throws must not let the exception out either.
    p.onError = [](TagComponent&, const std::string&) { throw 42; };
    EXPECT_FALSE(p.guard("again", []() -> bool { throw 1; }));
    EXPECT_EQ(p.Error(), "again");
}

}  // namespace
// Every user of the field table indexes it by Field and trusts its names to
// be unique: a row out of order or a repeated key sends a value elsewhere.
TEST(FieldTable, RowsFollowTheEnumAndNamesAreUnique) {
    std::set<std::string_view> keys, options, labels;
    for (std::size_t i = 0; i < kFieldTable.size(); ++i) {
        const FieldInfo& entry = kFieldTable[i];
        EXPECT_EQ(static_cast<std::size_t>(entry.field), i) << entry.key;
        EXPECT_EQ(&InfoOf(entry.field), &entry);
        EXPECT_TRUE(keys.insert(entry.key).second) << entry.key;
        EXPECT_TRUE(options.insert(entry.option).second) << entry.option;
        EXPECT_TRUE(labels.insert(entry.label).second) << entry.label;
    }
    // Each field has a member of its own: no write lands on another field.
    TagFields all;
    for (const auto& entry : kFieldTable)
        all[entry.field] = entry.key;
    for (const auto& entry : kFieldTable)
        EXPECT_EQ(all[entry.field], entry.key);
    TagFields h;
    h[Field::Lyrics] = "words";
    h[Field::OrigArtist] = "orig";
    EXPECT_EQ(h.text, "words");
    EXPECT_EQ(h.OrigArtist, "orig");
}

TEST(FieldTable, CopyFieldValuesLeavesPicturesAndVersionAlone) {
    TagFields from;
    for (const auto& entry : kFieldTable)
        from[entry.field] = std::string(entry.key) + " value";
    from.GenreID = 17;
    from.ImagesCount = 5;
    from.VersionHigh = 4;
    TagFields to;
    to.ImagesCount = 2;
    to.VersionHigh = 3;
    CopyFieldValues(from, to);
    for (const auto& entry : kFieldTable)
        EXPECT_EQ(to[entry.field], from[entry.field]) << entry.key;
    EXPECT_EQ(to.GenreID, 17);
    EXPECT_EQ(to.ImagesCount, 2);
    EXPECT_EQ(to.VersionHigh, 3);
}

}  // namespace sondrel
