// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/batch_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <numeric>

#include "support/test_support.h"

namespace sondrel {
namespace {

TEST(SizeText, Table) {
    const std::vector<std::pair<std::int64_t, const char*>> cases = {
        {0, "0"},
        {1023, "1023"},
        {1024, "1 Kb"},
        {1048575, "1023 Kb"},
        {1048576, "1 Mb"},
        {3460300, "3.3 Mb"},
        {3145728, "3 Mb"},
        // Exactly 12.5 and 17.5 tenths: the half goes to the even tenth.
        {1310720, "1.2 Mb"},
        {1835008, "1.8 Mb"},
        {1310721, "1.3 Mb"},
        {INT64_MAX, "8796093022208 Mb"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(SizeText(bytes), text) << bytes;
    EXPECT_EQ(SizeText(3460300, ","), "3,3 Mb");
}

TEST(NormaliseTrack, Table) {
    struct Case {
        const char* in;
        int style;
        const char* out;
    };
    const std::vector<Case> cases = {
        {"7", kTrackStyleX, "7"},      {"7", kTrackStyle0X, "07"},
        {"7", kTrackStyle00X, "007"},  {"007", kTrackStyleX, "7"},
        {"3/12", kTrackStyle0X, "03"}, {"0", kTrackStyle0X, ""},
        {"000", kTrackStyle00X, ""},   {"", kTrackStyle00X, ""},
        {"123", kTrackStyle0X, "123"}, {"B-side", kTrackStyle00X, "B-side"},
        {"/5", kTrackStyle0X, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NormaliseTrack(c.in, c.style), c.out) << c.in << " style " << c.style;
}

BatchRow WithTrack(const std::string& track) {
    BatchRow row;
    row.data.Track = track;
    row.data.Path = track;
    return row;
}

std::vector<std::string> Tracks(const std::vector<BatchRow>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows)
        out.push_back(r.data.Track);
    return out;
}

TEST(Sorting, NumbersThenText) {
    EXPECT_LT(CompareRows(WithTrack("2"), WithTrack("10"), kColTrack, false), 0);
    // With text involved the pair compares as text: "B-side" after "10".
    EXPECT_GT(CompareRows(WithTrack("B-side"), WithTrack("10"), kColTrack, false), 0);
    EXPECT_LT(CompareRows(WithTrack("10"), WithTrack("2"), kColBefore, false), 0);

    std::vector<BatchRow> rows = {WithTrack("10"), WithTrack("B-side"), WithTrack("2")};
    SortRows(rows, kColTrack, true, false);
    EXPECT_EQ(Tracks(rows), (std::vector<std::string>{"2", "10", "B-side"}));
    SortRows(rows, kColTrack, false, false);
    EXPECT_EQ(Tracks(rows), (std::vector<std::string>{"B-side", "10", "2"}));
}

TEST(Sorting, ColumnsByKind) {
    BatchRow a;
    BatchRow b;
    a.data.Title = "abc";
    b.data.Title = "ABD";
    EXPECT_LT(CompareRows(a, b, kColTitle, false), 0);  // case-insensitive
    b.data.Title = "ABC";
    EXPECT_EQ(CompareRows(a, b, kColTitle, false), 0);
    // Other tabs sort by the new values.
    a.NewTitle = "z";
    b.NewTitle = "a";
    EXPECT_GT(CompareRows(a, b, kColTitle, true), 0);

    a.Checked = false;
    EXPECT_LT(CompareRows(a, b, kColFlag, false), 0);
    a.data.Duration = 100;
    b.data.Duration = 20;
    EXPECT_GT(CompareRows(a, b, kColDuration, false), 0);
    // Size sorts by bytes, not by the text ("9 Kb" > "10 Mb" as text).
    a.data.FileSize = 9 * 1024;
    a.data.SizeText = "9 Kb";
    b.data.FileSize = 10 * 1048576;
    b.data.SizeText = "10 Mb";
    EXPECT_LT(CompareRows(a, b, kColSize, false), 0);
}

TEST(Sorting, StableAndSafeOnLargeMixedInput) {
    // Mixed numbers and texts are not a strict order; the sort must still
    // finish with every row kept.
    std::vector<BatchRow> rows;
    const char* values[] = {"10", "9", "a", "B", "100", "", "-3", "x9", "09"};
    for (int i = 0; i < 500; ++i) {
        rows.push_back(WithTrack(values[(i * 7) % 9]));
        rows.back().RowIndex = i;
    }
    SortRows(rows, kColTrack, true, false);
    std::vector<int> seen;
    for (const auto& r : rows)
        seen.push_back(r.RowIndex);
    std::sort(seen.begin(), seen.end());
    std::vector<int> all(500);
    std::iota(all.begin(), all.end(), 0);
    EXPECT_EQ(seen, all);
    // Equal keys keep their order.
    for (std::size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].data.Track == rows[i - 1].data.Track) {
            EXPECT_LT(rows[i - 1].RowIndex, rows[i].RowIndex);
        }
    }
}

// Rows whose every column varies: texts in mixed case, numbers of several
// lengths, the new values unlike the current ones, some rows unticked.
std::vector<BatchRow> VariedRows(bool numericTexts) {
    const char* texts[] = {"beta", "Alpha", "alpha", "", "Gamma", "b", "ALPHA2", "z"};
    const char* numbers[] = {"10", "9", "100", "0", "-3", "+7", "09", "2"};
    const char* const* pool = numericTexts ? numbers : texts;
    std::vector<BatchRow> rows;
    for (int i = 0; i < 64; ++i) {
        BatchRow r;
        auto pick = [&](int salt) { return std::string(pool[(i * 5 + salt * 3) % 8]); };
        r.data.Path = texts[(i * 3) % 8] + std::to_string(i % 5);
        r.After = pick(1);
        r.data.Track = pick(2);
        r.data.Title = texts[(i * 7) % 8];
        r.data.Artist = texts[(i + 3) % 8];
        r.data.Album = texts[(i * 11) % 8];
        r.data.Year = pick(3);
        r.data.Genre = texts[(i * 13) % 8];
        r.data.Comment = texts[(i * 5 + 1) % 8];
        r.data.Bitrate = pick(4);
        r.data.Freq = pick(5);
        r.data.Duration = (i * 37) % 11;
        r.data.FileSize = (i * 7919) % 13;
        r.NewTrack = pick(6);
        r.NewTitle = texts[(i * 3 + 2) % 8];
        r.NewArtist = texts[(i + 5) % 8];
        r.NewAlbum = texts[(i * 9) % 8];
        r.NewYear = pick(7);
        r.NewGenre = texts[(i * 7 + 3) % 8];
        r.NewComment = texts[(i + 1) % 8];
        r.Checked = i % 3 != 0;
        r.RowIndex = i;
        rows.push_back(std::move(r));
    }
    return rows;
}

TEST(Sorting, EveryColumnInTheComparisonOrderAndStable) {
    // The sort works on keys of its own; it must order exactly as
    // CompareRows does, on both kinds of tab, and keep ties in order.
    for (const bool numericTexts : {false, true}) {
        for (const bool newValues : {false, true}) {
            for (int column = 0; column < kColumnCount; ++column) {
                for (const bool ascending : {true, false}) {
                    std::vector<BatchRow> rows = VariedRows(numericTexts);
                    SortRows(rows, column, ascending, newValues);
                    ASSERT_EQ(rows.size(), 64u);
                    for (std::size_t i = 1; i < rows.size(); ++i) {
                        const int c = CompareRows(rows[i - 1], rows[i], column, newValues);
                        EXPECT_TRUE(ascending ? c <= 0 : c >= 0)
                            << "column " << column << " new " << newValues << " row " << i;
                        if (c == 0) {
                            EXPECT_LT(rows[i - 1].RowIndex, rows[i].RowIndex)
                                << "column " << column << " row " << i;
                        }
                    }
                }
            }
        }
    }
}

TEST(Sorting, SubRowsStayUnderTheirParentSortedAmongThemselves) {
    std::vector<BatchRow> rows;
    for (const char* title : {"Z", "y", "x", "M", "A", "q", "b"}) {
        rows.emplace_back();
        rows.back().data.Title = title;
        rows.back().SubRow = std::islower(static_cast<unsigned char>(title[0])) != 0;
    }
    auto titles = [&rows] {
        std::string s;
        for (const BatchRow& r : rows)
            s += r.data.Title;
        return s;
    };
    SortRows(rows, kColTitle, true, false);
    EXPECT_EQ(titles(), "AbqMZxy");
    SortRows(rows, kColTitle, false, false);
    EXPECT_EQ(titles(), "ZyxMAqb");
    // A sub-row on the first line has no parent: it sorts as a parent.
    rows.front().SubRow = true;
    SortRows(rows, kColTitle, true, false);
    EXPECT_EQ(titles(), "AbqMZxy");
}

TEST(Sorting, HeaderClicks) {
    SortState s;
    s.Click(4);
    EXPECT_EQ(s.column, 4);
    EXPECT_TRUE(s.ascending);
    s.Click(4);
    EXPECT_FALSE(s.ascending);
    s.Click(5);
    EXPECT_EQ(s.column, 5);
    EXPECT_TRUE(s.ascending);
}

TEST(MakeData, FromHubAndStream) {
    TagFields hub;
    hub.track = "03/10";
    hub.title = "T";
    hub.comment = "line1\r\nline2";
    hub.GenreID = 17;
    hub.Genre = "ignored";
    StreamFacts facts;
    facts.valid = true;
    facts.bitrate = 192;
    facts.sampleRate = 44100;
    facts.seconds = 59.9;
    ScanOptions opts;
    opts.trackStyle = kTrackStyle0X;
    const BatchFile file{"/m/Album", "a.mp3", 4};

    BatchData d = MakeData(file, hub, TagFormat::MP3, facts, 3460300, opts);
    EXPECT_EQ(d.Path, "a.mp3");
    EXPECT_EQ(d.FullPath(), "/m/Album/a.mp3");
    EXPECT_EQ(d.FolderName, "Album");
    EXPECT_EQ(d.Track, "03");
    EXPECT_EQ(d.Comment, "line1");
    EXPECT_EQ(d.Genre, "Rock");
    EXPECT_EQ(d.Bitrate, "192");
    EXPECT_EQ(d.Freq, "44100");
    EXPECT_EQ(d.Duration, 59);
    EXPECT_EQ(d.SizeText, "3.3 Mb");
    EXPECT_EQ(d.FileIndex, 4);
    EXPECT_EQ(d.Ext(), ".MP3");

    // Genre 12 shows the hub's own text; APE shows no bit rate.
    hub.GenreID = kGenreOther;
    hub.Genre = "Chiptune";
    opts.subfolderMode = true;
    d = MakeData(file, hub, TagFormat::APE, facts, 10, opts);
    EXPECT_EQ(d.Genre, "Chiptune");
    EXPECT_EQ(d.Bitrate, "");
    EXPECT_EQ(d.Path, "/m/Album/a.mp3");

    // A stream that could not be read leaves the stream values empty.
    facts.valid = false;
    d = MakeData(file, hub, TagFormat::MP3, facts, 3460300, opts);
    EXPECT_EQ(d.Bitrate, "");
    EXPECT_EQ(d.Freq, "");
    EXPECT_EQ(d.Duration, 0);
    EXPECT_EQ(d.FileSize, 0);
}

TEST(ReadBatchRows, RealFiles) {
    const test::Bytes mp3 = test::SilentMp3();
    if (mp3.empty())
        GTEST_SKIP() << "ffmpeg is missing";
    test::TempDir dir;
    test::WriteAll(dir.file("a.mp3"), mp3);
    test::WriteAll(dir.file("b.mp3"), mp3);
    test::WriteAll(dir.file("broken.mp3"), "not audio");
    TagBridge bridge;
    bridge.Read(dir.file("a.mp3"));
    TagFields tag = bridge.Hub();
    tag.title = "Hello";
    tag.track = "2";
    bridge.setHub(tag);
    ASSERT_TRUE(bridge.Save(dir.file("a.mp3")).ok);

    int steps = 0;
    const auto rows = ReadBatchRows(
        bridge, {{dir.path(), "a.mp3", 0}, {dir.path(), "broken.mp3", 1}, {dir.path(), "b.mp3", 2}},
        {false, kTrackStyle0X, "."}, [&steps] { return ++steps < 2; });
    // The scan stopped after the second file.
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].data.Title, "Hello");
    EXPECT_EQ(rows[0].data.Track, "02");
    EXPECT_EQ(rows[0].NewTitle, "Hello");
    EXPECT_TRUE(rows[0].Checked);
    EXPECT_EQ(rows[0].data.Freq, "44100");
    EXPECT_FALSE(rows[0].data.SizeText.empty());
    EXPECT_EQ(rows[1].RowIndex, 1);
    EXPECT_EQ(rows[1].data.Title, "");
    EXPECT_EQ(rows[1].data.Bitrate, "");
}

// A long list is read on several threads: its rows still come in the
// list's order, each from its own file, and a Stop ends the list where the
// user said it.
TEST(ReadBatchRows, LongListsKeepTheirOrderAndStopWhereAsked) {
    const test::Bytes mp3 = test::SilentMp3();
    if (mp3.empty())
        GTEST_SKIP() << "ffmpeg is missing";
    test::TempDir dir;
    TagBridge bridge;
    std::vector<BatchFile> files;
    constexpr int kFiles = 90;
    for (int i = 0; i < kFiles; ++i) {
        const bool broken = i % 13 == 5;
        const std::string name = (broken ? "broken " : "song ") + std::to_string(i) + ".mp3";
        if (broken) {
            test::WriteAll(dir.file(name), "not audio");
        } else {
            test::WriteAll(dir.file(name), mp3);
            bridge.Read(dir.file(name));
            TagFields tag = bridge.Hub();
            tag.title = "Title " + std::to_string(i);
            bridge.setHub(tag);
            ASSERT_TRUE(bridge.Save(dir.file(name)).ok);
        }
        files.push_back({dir.path(), name, i});
    }
    for (const int stopAfter : {0, 1, 50}) {
        SCOPED_TRACE(stopAfter ? "stopped after " + std::to_string(stopAfter) : "not stopped");
        int steps = 0;
        const auto rows = ReadBatchRows(bridge, files, {false, kTrackStyle0X, "."},
                                        [&] { return stopAfter == 0 || ++steps < stopAfter; });
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(stopAfter ? stopAfter : kFiles));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const bool broken = i % 13 == 5;
            EXPECT_EQ(rows[i].RowIndex, static_cast<int>(i));
            EXPECT_EQ(rows[i].data.FileName, files[i].FileName);
            EXPECT_EQ(rows[i].data.Valid, !broken) << files[i].FileName;
            EXPECT_EQ(rows[i].data.Title, broken ? "" : "Title " + std::to_string(i));
        }
    }
}

}  // namespace
}  // namespace sondrel
