// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/name_parse.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"
#include "util/paths.h"

namespace sondrel {
namespace {

using test::TempDir;

struct ParseCase {
    const char* text;
    const char* pattern;
    int replace;
    std::vector<std::pair<char, std::string>> expected;  // every other capture stays empty
};

TEST(ParseSegment, Table) {
    const std::vector<ParseCase> cases = {
        {"07 - Artist - Song", "%# - %A - %T", 0, {{'#', "07"}, {'A', "Artist"}, {'T', "Song"}}},
        // The last placeholder takes the rest.
        {"07 - Artist - Song", "%A - %T", 0, {{'A', "07"}, {'T', "Artist - Song"}}},
        {"Artist_-_Song", "%A - %T", kReplaceUnderscores, {{'A', "Artist"}, {'T', "Song"}}},
        {"01 Innuendo", "%# %T", 0, {{'#', "01"}, {'T', "Innuendo"}}},
        // Digit forms and lower case fill the same captures.
        {"1999 x", "%4 %t", 0, {{'Y', "1999"}, {'T', "x"}}},
        // Literal text before the first placeholder is skipped over.
        {"[Album] Song", "[%L] %T", 0, {{'L', "Album"}, {'T', "Song"}}},
        // Missing literal text before a placeholder stops the reading.
        {"Artist - Song", "%A - %T (%Y)", 0, {{'A', "Artist"}, {'T', "Song"}}},
        {"Artist Song", "%A - %T", 0, {{'A', "Artist Song"}}},
        {"Song", "x%T", 0, {}},
        // %G captures nothing: its letter becomes literal text, here text
        // the name lacks.
        {"Rock - Song", "%G - %T", 0, {}},
        {"G - Song", "%G - %T", 0, {{'T', "Song"}}},
        {"Song", "%T%", 0, {{'T', "Song"}}},
        {"Song", "", 0, {}},
    };
    for (const auto& c : cases) {
        Captures caps;
        ParseSegment(c.text, c.pattern, c.replace, caps);
        for (const char slot : std::string("#TALY5CBFDS")) {
            std::string expected;
            for (const auto& [k, v] : c.expected)
                if (Captures::SlotOf(k) == Captures::SlotOf(slot))
                    expected = v;
            EXPECT_EQ(caps.Get(slot), expected) << c.text << " / " << c.pattern << " %" << slot;
        }
    }
}

TEST(ParseFileName, FoldersFromTheInnermostOutwards) {
    const std::string s(1, kPathSeparator);
    const std::string folder = s + "Music" + s + "Queen" + s + "Innuendo" + s;
    const Captures caps = ParseFileName("%A\\%L\\%# %T", folder, "01 Innuendo", 0);
    EXPECT_EQ(caps.Get('A'), "Queen");
    EXPECT_EQ(caps.Get('L'), "Innuendo");
    EXPECT_EQ(caps.Get('#'), "01");
    EXPECT_EQ(caps.Get('T'), "Innuendo");
    // The file name wins over a folder name.
    const Captures again = ParseFileName("%T\\%T", folder, "Name", 0);
    EXPECT_EQ(again.Get('T'), "Name");
}

TEST(ExpandField, Table) {
    Captures caps;
    caps.Set('A', "Artist");
    caps.Set('Y', "1999");
    caps.Set('T', "a/b");
    NameOptions o;
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"%A (%Y)", "Artist (1999)"},
        {"%G", "%G"},
        {"100%%", "100%%"},
        {"x%", "x%"},
        {"%L", ""},
        {"%5", "Shown"},
        {"%T", "ab"},
        {"%2 %4", "Artist 1999"},
    };
    for (const auto& [expr, expected] : cases)
        EXPECT_EQ(ExpandField(expr, caps, "Shown", o), expected) << expr;
    caps.Set('5', "Folder");
    EXPECT_EQ(ExpandField("%5", caps, "Shown", o), "Folder");
    o.deleteBadLetters = false;
    o.capitalization = 2;
    EXPECT_EQ(ExpandField("%T", caps, "", o), "A B");
}

TEST(AutoNumbering, StartFromExpression) {
    EXPECT_EQ(AutoNumberExpression("5"), "5-");
    const std::vector<std::pair<const char*, long long>> cases = {
        {"5-", 5}, {"12-", 12}, {"x-", 1}, {"-", 1}, {"", 1}, {"5", 1},
    };
    for (const auto& [expr, start] : cases)
        EXPECT_EQ(AutoNumberStart(expr), start) << expr;
}

BatchRow Row(const std::string& fileName, int fileIndex, bool checked = true) {
    BatchRow row;
    row.data.Folder = "/nonexistent/Queen/Innuendo/";
    row.data.FileName = fileName;
    row.data.Path = fileName;
    row.data.FileIndex = fileIndex;
    row.Checked = checked;
    return row;
}

TEST(ComputeNewValues, Modes) {
    Captures caps;
    caps.Set('#', "07");
    caps.Set('A', "Artist");
    caps.Set('T', "Song");
    caps.Set('L', "Album");
    BatchRow row = Row("x.mp3", 0);
    row.data.Title = "Old title";
    row.data.Year = "1990";
    long long counter = 1;

    GenerateOptions o;
    o.trackStyle = kTrackStyle0X;
    ComputeNewValues(row, caps, o, counter);
    EXPECT_EQ(row.NewTrack, "07");
    EXPECT_EQ(row.NewTitle, "Song");
    EXPECT_EQ(row.NewArtist, "Artist");
    // An expression whose capture is empty empties the field.
    EXPECT_EQ(row.NewYear, "");

    // An unticked box, or an empty expression, keeps the current value.
    o.fields[kFieldTitle].enabled = false;
    o.fields[kFieldYear].expression.clear();
    ComputeNewValues(row, caps, o, counter);
    EXPECT_EQ(row.NewTitle, "Old title");
    EXPECT_EQ(row.NewYear, "1990");

    // Only empty fields: the title stays, the empty album and artist are
    // filled, even with an unticked box.
    o = GenerateOptions{};
    o.mode = kModeOnlyEmpty;
    o.fields[kFieldAlbum].enabled = false;
    ComputeNewValues(row, caps, o, counter);
    EXPECT_EQ(row.NewTitle, "Old title");
    EXPECT_EQ(row.NewYear, "1990");
    EXPECT_EQ(row.NewAlbum, "Album");
    EXPECT_EQ(row.NewArtist, "Artist");

    o.mode = kModeLeave;
    ComputeNewValues(row, caps, o, counter);
    EXPECT_EQ(row.NewTitle, "Old title");
    EXPECT_EQ(row.NewAlbum, "");
    EXPECT_EQ(counter, 1);
}

TEST(ComputeNewValues, TrackStyles) {
    Captures caps;
    caps.Set('#', "01");
    const std::vector<std::pair<int, const char*>> cases = {
        {kTrackStyleX, "1"}, {kTrackStyle0X, "01"}, {kTrackStyle00X, "001"}};
    for (const auto& [style, expected] : cases) {
        BatchRow row = Row("x.mp3", 0);
        GenerateOptions o;
        o.trackStyle = style;
        long long counter = 1;
        ComputeNewValues(row, caps, o, counter);
        EXPECT_EQ(row.NewTrack, expected) << style;
    }
}

TEST(GenerateTags, NumberingFollowsTheMainListAndSkipsUntickedRows) {
    // Display order differs from the main list's order (FileIndex).
    std::vector<BatchRow> rows = {Row("c.mp3", 2, false), Row("a.mp3", 0), Row("d.mp3", 3),
                                  Row("b.mp3", 1)};
    rows[0].data.Track = "9";
    GenerateOptions o;
    o.autoNumbering = true;
    o.fields[kFieldTrack].expression = AutoNumberExpression("5");
    const GenerateResult r = GenerateTags(rows, o);
    EXPECT_TRUE(r.written.empty());
    EXPECT_EQ(rows[1].NewTrack, "5");
    EXPECT_EQ(rows[3].NewTrack, "6");
    EXPECT_EQ(rows[0].NewTrack, "9");
    EXPECT_EQ(rows[2].NewTrack, "7");
}

TEST(GenerateTags, WriteDecision) {
    GenerateOptions o;
    EXPECT_TRUE(ShouldWrite(true, o));
    o.mode = kModeLeave;
    EXPECT_FALSE(ShouldWrite(true, o));
    EXPECT_TRUE(ShouldWrite(false, o));
    o.autoNumbering = true;
    EXPECT_TRUE(ShouldWrite(true, o));
}

// Writing through the bridge on real files.
class GenerateWrite : public ::testing::Test {
protected:
    void SetUp() override {
        mp3 = test::SilentMp3();
        if (mp3.empty())
            GTEST_SKIP() << "ffmpeg is missing";
        folder = dir.path() + "/Queen/Innuendo/";
        std::filesystem::create_directories(folder);
    }
    BatchRow Add(const std::string& name, int index, bool checked = true) {
        test::WriteAll(folder + name, mp3);
        BatchRow row;
        row.data.Folder = folder;
        row.data.FileName = name;
        row.data.Path = folder + name;
        row.data.FileIndex = index;
        row.Checked = checked;
        return row;
    }
    TempDir dir;
    test::Bytes mp3;
    std::string folder;
};

TEST_F(GenerateWrite, TickedFilesGetTheNewValues) {
    std::vector<BatchRow> rows = {Add("01 Innuendo.mp3", 0), Add("02 Kiss.mp3", 1, false)};
    GenerateOptions o;
    o.nameTemplate = "%A\\%L\\%# %T";
    o.trackStyle = kTrackStyle0X;
    TagBridge bridge;
    const GenerateResult r = GenerateTags(rows, o, &bridge);
    EXPECT_TRUE(r.failures.empty());
    EXPECT_EQ(r.written, std::vector<std::size_t>{0});
    ASSERT_EQ(r.outcomes.size(), 1u);
    EXPECT_EQ(r.outcomes[0].Path, rows[1].Before());
    EXPECT_EQ(r.outcomes[0].NewName, "");

    bridge.Read(folder + "01 Innuendo.mp3");
    EXPECT_EQ(bridge.Hub().artist, "Queen");
    EXPECT_EQ(bridge.Hub().album, "Innuendo");
    EXPECT_EQ(bridge.Hub().title, "Innuendo");
    EXPECT_EQ(bridge.Hub().track, "01");
    // The unticked file is untouched.
    EXPECT_EQ(test::ReadAll(folder + "02 Kiss.mp3"), mp3);

    if (test::HaveMutagen()) {
        const auto out = test::RunCommand(
            "python3 -c 'import sys; from mutagen.id3 import ID3; t = ID3(sys.argv[1]); "
            "print(t[\"TPE1\"].text[0], t[\"TALB\"].text[0], t[\"TRCK\"].text[0])' " +
            test::ShellQuote(folder + "01 Innuendo.mp3"));
        EXPECT_EQ(out.output, "Queen Innuendo 01\n");
    }
}

TEST_F(GenerateWrite, LeaveModeDoesNotTouchTaggedFiles) {
    std::vector<BatchRow> rows = {Add("a - b.mp3", 0)};
    TagBridge bridge;
    bridge.Read(folder + "a - b.mp3");
    TagFields tag = bridge.Hub();
    tag.title = "Kept";
    bridge.setHub(tag);
    ASSERT_TRUE(bridge.Save(folder + "a - b.mp3").ok);
    const test::Bytes tagged = test::ReadAll(folder + "a - b.mp3");

    GenerateOptions o;
    o.mode = kModeLeave;
    const GenerateResult r = GenerateTags(rows, o, &bridge);
    EXPECT_TRUE(r.written.empty());
    EXPECT_TRUE(r.outcomes.empty());
    EXPECT_EQ(test::ReadAll(folder + "a - b.mp3"), tagged);
}

}  // namespace
}  // namespace sondrel
