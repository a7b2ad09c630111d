// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/file_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace sondrel {
namespace {

FileRow File(const std::string& folder, const std::string& name) {
    const std::size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return {folder, name, ext, name};
}

FileRow Folder(const std::string& folder, const std::string& name) {
    return {folder, {}, {}, name};
}

FileRow Parent(const std::string& folder) {
    return {folder, {}, {}, ".."};
}

TEST(NaturalOrder, PairsInOrder) {
    struct Case {
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"track 2.mp3", "track 10.mp3"},  // numbers by value
        {"2", "10"},
        {"a9b", "a10a"},
        {"alpha", "Beta"},  // case ignored
        {"Alpha", "beta"},
        {"b.mp3", "TRACK.MP3"},
        {"A.ogg", "b.mp3"},
        {"été", "f"},  // accents ignored ...
        {"e", "été"},
        {"Ärger", "Bach"},
        {"ab", "abc"},  // a prefix first
        {"", "a"},
        {"A", "a"},                                             // equal keys: the bytes decide
        {"track 07", "track 7"},                                // equal values: the bytes decide
        {"x 99999999999999999999", "x 100000000000000000000"},  // past 64 bits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.before) + " < " + c.after);
        EXPECT_TRUE(NaturalLess(c.before, c.after));
        EXPECT_FALSE(NaturalLess(c.after, c.before));
    }
    EXPECT_FALSE(NaturalLess("same", "same"));
}

TEST(NaturalOrder, MalformedTextStillOrders) {
    const std::string bad =
        "\xff\xfe"
        "b";
    EXPECT_EQ(OrderKey(bad), bad);
    EXPECT_EQ(OrderKey("AB\xff"), "ab\xff");
    EXPECT_TRUE(NaturalLess("a\xff", "B\xff"));
}

// Plain ASCII names take a short way to their key; it must fold exactly as
// the Unicode tables do, which a name with one accented letter still takes.
TEST(NaturalOrder, AsciiKeysFoldAsTheUnicodeTablesDo) {
    for (int c = 1; c < 0x80; ++c) {
        const std::string ascii(1, static_cast<char>(c));
        EXPECT_EQ(OrderKey(ascii + "\xc3\x89"), OrderKey(ascii) + "e") << "character " << c;
    }
}

// Names that make natural, case-insensitive order hard: accents, case,
// digit runs with leading zeros, runs around the lengths the sort key
// spells differently, bytes just around the digits, several scripts,
// names equal once folded, and malformed UTF-8.
const std::vector<std::string>& TrickyNames() {
    static const std::vector<std::string> names = {
        "",
        "a",
        "A",
        "b",
        "B",
        "été",
        "Été",
        "ete",
        "ETE",
        "f",
        "Ärger",
        "arger",
        "Bach",
        "track 2",
        "track 02",
        "track 002",
        "track 10",
        "track 1",
        "track 0",
        "track 00",
        "track",
        "track a",
        "track/",
        "track:",
        "track.",
        "track 9",
        "track 12345678",
        "track 123456789",
        "track 99999999",
        "track 100000000",
        "track 0123456789",
        "track 1234567890123456789012",
        "track 1234567890123456789013",
        "x 99999999999999999999",
        "x 100000000000000000000",
        "a9b",
        "a10a",
        "a10",
        "a1b2",
        "a1b10",
        "a01b2",
        "1",
        "01",
        "9",
        "10",
        "0",
        "00",
        "Ωμέγα 3",
        "ωμέγα 3",
        "Дом 10",
        "дом 9",
        "日本 2",
        "日本 10",
        "ǅemal",
        "ǆemal",
        "Straße",
        "STRASSE",
        "strasse 1",
        "ﬁle",
        "file",
        "Ｆｕｌｌ",
        "full",
        "\xff\xfe"
        "b",
        "a\xff",
        "B\xff",
        "x\x01",
        "x\x7f",
        "x ",
        "x!",
        "x~",
    };
    return names;
}

int Sign(int c) {
    return (c > 0) - (c < 0);
}

// Comparing sort keys byte by byte must give exactly the natural order of
// the folded keys, ties included, for every pair.
TEST(NaturalOrder, SortKeysCompareAsNaturalCompare) {
    const auto& names = TrickyNames();
    for (const std::string& a : names) {
        for (const std::string& b : names) {
            SCOPED_TRACE("'" + a + "' against '" + b + "'");
            EXPECT_EQ(Sign(SortKey(a).compare(SortKey(b))),
                      Sign(NaturalCompare(OrderKey(a), OrderKey(b))));
        }
    }
    std::string appended = "prefix";
    AppendSortKey("Track 07", appended);
    EXPECT_EQ(appended, "prefix" + SortKey("Track 07"));
}

// The list's order of a folder's files and folders is NaturalLess, whatever
// way it is computed: a generated mix of the tricky names and their
// combinations, shuffled, comes out as sorting by NaturalLess puts it.
TEST(ListOrder, MatchesNaturalLessOnGeneratedNames) {
    const auto& parts = TrickyNames();
    std::vector<std::string> names;
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int i = 0; i < 3000; ++i) {
        std::string name = parts[next() % parts.size()];
        if (next() % 2 == 0)
            name += std::to_string(next() % 200);
        if (next() % 3 == 0)
            name += parts[next() % parts.size()];
        names.push_back(name);
    }
    for (const bool asFolders : {false, true}) {
        SCOPED_TRACE(asFolders ? "folders" : "files");
        std::vector<FileRow> rows;
        for (const std::string& n : names)
            rows.push_back(asFolders ? Folder("/m/", n) : File("/m/", n + ".mp3"));
        std::vector<std::size_t> expected(rows.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            expected[i] = i;
        std::stable_sort(expected.begin(), expected.end(), [&](std::size_t a, std::size_t b) {
            return NaturalLess(rows[a].caption, rows[b].caption);
        });
        EXPECT_EQ(ListOrder(rows), expected);
    }
}

TEST(ListOrder, ParentFoldersThenFilesInTreeOrder) {
    const std::string r = "/m/";
    std::vector<FileRow> rows = {
        File(r + "alpha b/", "x.mp3"),
        File(r + "alpha/deep/", "a2.ogg"),
        File(r, "b 10.mp3"),
        Folder(r, "Zeta"),
        File(r + "alpha/", "a1.mp3"),
        Parent(r),
        File(r, "B 9.mp3"),
        Folder(r, "alpha"),
        File(r + "Beta/", "b1.wma"),
        File(r + "alpha/", "A0.mp3"),
    };
    SortListRows(rows);
    std::vector<std::string> keys;
    for (const FileRow& row : rows)
        keys.push_back(RowKey(row));
    EXPECT_EQ(keys, (std::vector<std::string>{"..", "/m/alpha", "/m/Zeta", "/m/B 9.mp3",
                                              "/m/b 10.mp3", "/m/alpha/A0.mp3", "/m/alpha/a1.mp3",
                                              "/m/alpha/deep/a2.ogg", "/m/alpha b/x.mp3",
                                              "/m/Beta/b1.wma"}));
}

struct Rows : ::testing::Test {
    FileRows rows;
    void SetUp() override {
        rows.Reset({Parent("/m/Music/"), Folder("/m/Music/", "alpha"), Folder("/m/Music/", "Beta"),
                    File("/m/Music/", "a.mp3"), File("/m/Music/", "TRACK.MP3"),
                    File("/m/Music/alpha/deep/", "d.ogg")},
                   "/m/Music", true);
    }
};

TEST_F(Rows, KeysFindRowsAgainAfterTheRowsMove) {
    const std::vector<std::string> keys = rows.KeysOf({0, 2, 4, 99});
    EXPECT_EQ(keys, (std::vector<std::string>{"..", "/m/Music/Beta", "/m/Music/TRACK.MP3"}));
    // A rescan: a file added before the selected ones, one selected file gone.
    rows.Reset({Parent("/m/Music/"), Folder("/m/Music/", "alpha"), Folder("/m/Music/", "Beta"),
                File("/m/Music/", "0 new.mp3"), File("/m/Music/", "a.mp3")},
               "/m/Music", true);
    EXPECT_EQ(rows.RowsOfKeys(keys), (std::vector<int>{0, 2}));
    EXPECT_EQ(rows.RowOfKey("/m/Music/a.mp3"), 4);
    EXPECT_EQ(rows.RowOfKey("/m/Music/TRACK.MP3"), -1);
    // A folder row and a file of the same path are told apart.
    EXPECT_NE(RowKey(Folder("/m/", "x")), RowKey(Parent("/m/x/")));
}

TEST_F(Rows, SelectionHelpers) {
    EXPECT_EQ(rows.AllFileRows(), (std::vector<int>{3, 4, 5}));
    EXPECT_EQ(rows.FileRowsAmong({5, 0, 1, 3, 3, -1, 42}), (std::vector<int>{3, 5}));
    EXPECT_EQ(rows.RowOfCaption("track.mp3"), 4);
    EXPECT_EQ(rows.RowOfCaption("missing.mp3"), -1);
    EXPECT_EQ(rows.RowOfCaption(""), -1);
    EXPECT_EQ(rows.FolderRowNamed("Beta"), 2);
    EXPECT_EQ(rows.FolderRowNamed("beta"), -1);  // as the folder is named
    EXPECT_EQ(rows.FolderRowNamed(".."), -1);
    EXPECT_EQ(rows.FolderRowNamed("a.mp3"), -1);
}

TEST_F(Rows, ActionsAndFolders) {
    struct Case {
        int row;
        RowAction::Kind kind;
        std::string folder;  // where OpenFolder goes / FolderSeen of the row
    };
    const Case actions[] = {{0, RowAction::GoUp, ""},
                            {2, RowAction::OpenFolder, "/m/Music/Beta"},
                            {3, RowAction::Play, ""},
                            {-1, RowAction::None, ""},
                            {6, RowAction::None, ""}};
    for (const Case& c : actions) {
        SCOPED_TRACE(c.row);
        const RowAction a = rows.ActionOf(c.row);
        EXPECT_EQ(a.kind, c.kind);
        EXPECT_EQ(a.folder, c.folder);
    }
    EXPECT_EQ(rows.FolderSeen(3), "Music");
    EXPECT_EQ(rows.FolderSeen(5), "Music/alpha/deep");
    EXPECT_EQ(rows.FolderSeen(6), "");
    rows.Reset({File("/elsewhere/", "x.mp3"), File("/a/", "y.mp3")}, "/", true);
    EXPECT_EQ(rows.FolderSeen(0), "/elsewhere");
    rows.Reset({File("/other/", "x.mp3")}, "/m/Music/", true);
    EXPECT_EQ(rows.FolderSeen(0), "/other");
}

TEST(GoingUp, ParentAndTheFolderLeft) {
    struct Case {
        const char* shown;
        const char* folder;
        const char* left;
    };
    const Case cases[] = {{"/m/Music/alpha", "/m/Music", "alpha"},
                          {"/m/Music/alpha/", "/m/Music", "alpha"},
                          {"/m", "/", "m"},
                          {"/", "", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        const FolderUp up = GoingUp(c.shown);
        EXPECT_EQ(up.folder, c.folder);
        EXPECT_EQ(up.left, c.left);
    }
}

}  // namespace
}  // namespace sondrel
