// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/folder_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sondrel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    test::WriteAll(path, std::string());
}

std::vector<std::string> Captions(const std::vector<FileRow>& rows) {
    std::vector<std::string> out;
    for (const FileRow& r : rows)
        out.push_back(r.caption);
    return out;
}

bool Has(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

std::ptrdiff_t IndexOf(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) - list.begin();
}

// A folder with files of every format, folders, a hidden file and a non-audio file.
struct Library {
    TempDir dir;
    std::string root() const { return dir.path(); }
    Library() {
        for (const char* name : {"b.mp3", "A.ogg", "TRACK.MP3", "c.wma", "d.ape", "e.m4a", "f.mp4",
                                 "g.aac", "h.mpc", "notes.txt", ".hidden.mp3", "Zeta/z1.mp3",
                                 "alpha/a1.mp3", "alpha/deep/a2.ogg", "Beta/b1.wma"}) {
            Touch(dir.file(name));
        }
    }
};

FolderScanOptions Subfolders() {
    FolderScanOptions o;
    o.subfolders = true;
    return o;
}

TEST(FolderScan, OrderParentRowAndFormats) {
    Library lib;
    const auto rows = ScanFolder(lib.root(), FolderScanOptions{});
    ASSERT_TRUE(rows);
    EXPECT_EQ(Captions(*rows),
              (std::vector<std::string>{"..", "alpha", "Beta", "Zeta", "A.ogg", "b.mp3", "c.wma",
                                        "d.ape", "e.m4a", "f.mp4", "g.aac", "h.mpc", "TRACK.MP3"}));
    const FileRow& parent = rows->front();
    EXPECT_EQ(parent.folder, lib.root() + "/");  // separator added
    EXPECT_FALSE(parent.IsFile());
    const auto upper = std::find_if(rows->begin(), rows->end(),
                                    [](const FileRow& r) { return r.caption == "TRACK.MP3"; });
    EXPECT_EQ(upper->ext, ".MP3");
    EXPECT_EQ(upper->Path(), lib.root() + "/TRACK.MP3");
}

TEST(FolderScan, SwitchesAndShowFolders) {
    Library lib;
    FolderScanOptions o;
    o.showFolders = false;
    o.hiddenFormats = {TagFormat::Ogg, TagFormat::WMA, TagFormat::APE, TagFormat::MP4,
                       TagFormat::MPC};
    const auto mp3Only = ScanFolder(lib.root(), o);
    ASSERT_TRUE(mp3Only);
    EXPECT_EQ(Captions(*mp3Only), (std::vector<std::string>{"b.mp3", "TRACK.MP3"}));

    o.hiddenFormats = {TagFormat::MP4};  // MP4/M4A/AAC off at once
    const auto noMp4 = ScanFolder(lib.root(), o);
    ASSERT_TRUE(noMp4);
    EXPECT_FALSE(Has(Captions(*noMp4), "e.m4a"));
    EXPECT_FALSE(Has(Captions(*noMp4), "f.mp4"));
    EXPECT_FALSE(Has(Captions(*noMp4), "g.aac"));
}

// Every extension the format registry claims is listed, whatever its case;
// nothing else is.
TEST(FolderScan, ExtensionsComeFromTheRegistry) {
    TempDir dir;
    for (const char* name : {"a.Mp+", "b.mpp", "c.MPC", "d.mp3.txt", "e.mp", "noext", "f."})
        Touch(dir.file(name));
    FolderScanOptions o;
    o.showFolders = false;
    const auto rows = ScanFolder(dir.path(), o);
    ASSERT_TRUE(rows);
    EXPECT_EQ(Captions(*rows), (std::vector<std::string>{"a.Mp+", "b.mpp", "c.MPC"}));
    EXPECT_EQ(rows->front().ext, ".MP+");
}

TEST(FolderScan, RootHasNoParentRow) {
    const auto rows = ScanFolder("/", FolderScanOptions{});
    ASSERT_TRUE(rows);
    ASSERT_FALSE(rows->empty());
    EXPECT_NE(rows->front().caption, "..");
}

TEST(FolderScan, SubfolderModeGroupsFilesByFolder) {
    Library lib;
    const auto rows = ScanFolder(lib.root(), Subfolders());
    ASSERT_TRUE(rows);
    for (const FileRow& r : *rows)
        EXPECT_TRUE(r.IsFile()) << r.caption;
    const auto caps = Captions(*rows);
    // A folder's own files come before those of its subfolders.
    EXPECT_LT(IndexOf(caps, "TRACK.MP3"), IndexOf(caps, "a1.mp3"));
    EXPECT_LT(IndexOf(caps, "a1.mp3"), IndexOf(caps, "a2.ogg"));
    EXPECT_LT(IndexOf(caps, "a2.ogg"), IndexOf(caps, "b1.wma"));
    EXPECT_EQ(rows->size(), 13u);
}

TEST(FolderScan, OnlySelectedSubfolders) {
    Library lib;
    FolderScanOptions o = Subfolders();
    o.onlySelectedSubfolders = true;
    PreviousSelection two{{"alpha", "Beta"}, false};
    const auto only = ScanFolder(lib.root(), o, two);
    ASSERT_TRUE(only);
    EXPECT_EQ(Captions(*only), (std::vector<std::string>{"a1.mp3", "a2.ogg", "b1.wma"}));

    PreviousSelection withFile{{"alpha"}, true};
    const auto withTop = ScanFolder(lib.root(), o, withFile);
    ASSERT_TRUE(withTop);
    EXPECT_TRUE(Has(Captions(*withTop), "b.mp3"));  // the top folder's own files too
    EXPECT_FALSE(Has(Captions(*withTop), "b1.wma"));
}

TEST(FolderScan, StopKeepsWhatWasFound) {
    Library lib;
    int calls = 0;
    FolderScanHooks hooks{[&] { return ++calls < 3; }, nullptr};
    const auto rows = ScanFolder(lib.root(), Subfolders(), {}, hooks);
    ASSERT_TRUE(rows);
    EXPECT_LT(rows->size(), 13u);
}

TEST(FolderScan, ProgressSeesEachFolderOnce) {
    Library lib;
    std::vector<std::string> entered;
    FolderScanHooks hooks{nullptr, [&](const std::string& f) { entered.push_back(f); }};
    ASSERT_TRUE(ScanFolder(lib.root(), Subfolders(), {}, hooks));
    std::sort(entered.begin(), entered.end());
    const std::string r = lib.root() + "/";
    EXPECT_EQ(entered, (std::vector<std::string>{r, r + "Beta/", r + "Zeta/", r + "alpha/",
                                                 r + "alpha/deep/"}));
}

TEST(FolderScan, MissingFolder) {
    EXPECT_FALSE(ScanFolder("/no/such/folder", FolderScanOptions{}));
    EXPECT_FALSE(ScanFolder("", FolderScanOptions{}));
    TempDir dir;
    Touch(dir.file("file.mp3"));
    EXPECT_FALSE(ScanFolder(dir.file("file.mp3"), FolderScanOptions{}));
}

// Links that lead back up the tree, across it, or to a file listed under
// another name: subfolder mode lists each file once and ends.
struct LinkCase {
    const char* name;
    std::vector<std::pair<const char*, const char*>> links;  // link -> target
    std::vector<std::string> expected;                       // paths below the root
};

TEST(FolderScan, LinksNeverListAFileTwice) {
    const LinkCase cases[] = {
        {"back to the parent", {{"Album/back", ".."}}, {"top.mp3", "Album/one.mp3"}},
        {"back to itself", {{"Album/self", "."}}, {"top.mp3", "Album/one.mp3"}},
        {"two folders linking each other",
         {{"Album/toB", "../B"}, {"B/toAlbum", "../Album"}},
         {"top.mp3", "Album/one.mp3", "B/b.mp3"}},
        {"a second name for a folder", {{"Alias", "Album"}}, {"top.mp3", "Album/one.mp3"}},
        {"a link beside its file", {{"Album/again.mp3", "one.mp3"}}, {"top.mp3", "Album/one.mp3"}},
        {"a link sorted before its file",
         {{"Album/0 first.mp3", "one.mp3"}},
         {"top.mp3", "Album/one.mp3"}},
        {"a link to a file in another folder",
         {{"B/copy.mp3", "../Album/one.mp3"}},
         {"top.mp3", "Album/one.mp3", "B/b.mp3"}},
        {"a dangling link", {{"Album/gone.mp3", "missing.mp3"}}, {"top.mp3", "Album/one.mp3"}},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Touch(dir.file("top.mp3"));
        Touch(dir.file("Album/one.mp3"));
        if (std::any_of(c.expected.begin(), c.expected.end(),
                        [](const std::string& e) { return e == "B/b.mp3"; }))
            Touch(dir.file("B/b.mp3"));
        for (const auto& [link, target] : c.links)
            fs::create_symlink(target, dir.file(link));
        const auto rows = ScanFolder(dir.path(), Subfolders());
        ASSERT_TRUE(rows);
        std::vector<std::string> paths;
        for (const FileRow& r : *rows)
            paths.push_back(r.Path().substr(dir.path().size() + 1));
        EXPECT_EQ(paths, c.expected);
    }
}

TEST(FolderScan, HardLinksAreOneFile) {
    TempDir dir;
    Touch(dir.file("a.mp3"));
    fs::create_hard_link(dir.file("a.mp3"), dir.file("b.mp3"));
    FolderScanOptions o;
    o.showFolders = false;
    const auto rows = ScanFolder(dir.path(), o);
    ASSERT_TRUE(rows);
    EXPECT_EQ(Captions(*rows), (std::vector<std::string>{"a.mp3"}));
}

// A folder large enough that the system's order is nothing like the list's:
// the scan's rows are the rows it found put in list order, each once, with
// the second names of hard-linked files left out wherever they fall.
TEST(FolderScan, LargeFolderComesInListOrderWithLinksDropped) {
    TempDir dir;
    std::vector<FileRow> expected;
    for (int i = 0; i < 300; ++i) {
        const std::string name = (i % 3 == 0   ? "Track "
                                  : i % 3 == 1 ? "track "
                                               : "Ä ") +
                                 std::to_string((i * 37) % 301) + (i % 2 ? ".mp3" : ".ogg");
        if (i % 7 == 0 && !expected.empty()) {
            // A second name of an earlier file: listed under the first.
            fs::create_hard_link(dir.file(expected.front().fileName), dir.file("x" + name));
        } else {
            Touch(dir.file(name));
            expected.push_back({dir.path() + "/", name, i % 2 ? ".MP3" : ".OGG", name});
        }
    }
    fs::create_directory(dir.file("sub 2"));
    fs::create_directory(dir.file("Sub 10"));
    expected.push_back({dir.path() + "/", {}, {}, "sub 2"});
    expected.push_back({dir.path() + "/", {}, {}, "Sub 10"});
    SortListRows(expected);
    expected.insert(expected.begin(), FileRow{dir.path() + "/", {}, {}, ".."});
    const auto rows = ScanFolder(dir.path(), FolderScanOptions{});
    ASSERT_TRUE(rows);
    EXPECT_EQ(*rows, expected);
}

// Many files with second names, each a different file: every file is
// listed once, under its first name in list order, and the rows of the
// folder share one copy of its path.
TEST(FolderScan, ManyHardLinkedFilesEachListedOnce) {
    TempDir dir;
    std::vector<std::string> expected;
    for (int i = 0; i < 1500; ++i) {
        const std::string name = "a" + std::to_string(i) + ".mp3";
        Touch(dir.file(name));
        expected.push_back(name);
        if (i % 4 == 0)
            fs::create_hard_link(dir.file(name), dir.file("b" + std::to_string(i) + ".mp3"));
    }
    std::sort(expected.begin(), expected.end(), NaturalLess);
    FolderScanOptions o;
    o.showFolders = false;
    const auto rows = ScanFolder(dir.path(), o);
    ASSERT_TRUE(rows);
    EXPECT_EQ(Captions(*rows), expected);
    for (const FileRow& r : *rows) {
        ASSERT_EQ(r.folder, dir.path() + "/");
        ASSERT_EQ(&r.folder.str(), &rows->front().folder.str()) << r.caption;
    }
}

// A chain deeper than the limit is cut there; files above the limit are listed.
TEST(FolderScan, DepthLimit) {
    TempDir dir;
    std::string path = dir.path();
    for (int level = 1; level <= kMaxFolderDepth + 3; ++level) {
        path += "/d";
        Touch(path + "/f" + std::to_string(level) + ".mp3");
    }
    const auto rows = ScanFolder(dir.path(), Subfolders());
    ASSERT_TRUE(rows);
    // The shown folder is level 1; its subfolder chain reaches the limit.
    EXPECT_EQ(rows->size(), static_cast<std::size_t>(kMaxFolderDepth - 1));
    std::set<std::string> names;
    for (const FileRow& r : *rows)
        names.insert(r.fileName);
    EXPECT_TRUE(names.count("f1.mp3"));
    EXPECT_TRUE(names.count("f" + std::to_string(kMaxFolderDepth - 1) + ".mp3"));
    EXPECT_FALSE(names.count("f" + std::to_string(kMaxFolderDepth) + ".mp3"));
}

}  // namespace
}  // namespace sondrel
