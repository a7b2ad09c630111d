// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace sondrel {
namespace {

using test::TempDir;

TEST(Paths, AddBackslash) {
    const std::pair<const char*, const char*> rows[] = {
        {"", ""}, {"/music", "/music/"}, {"/music/", "/music/"}, {"/", "/"}, {"album", "album/"},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(AddBackslash(in), out) << "«" << in << "»";
}

TEST(Paths, LastFolderName) {
    const std::pair<const char*, const char*> rows[] = {
        {"/music/album/", "album"},
        {"/music/album", "album"},
        {"/music/album//", "album"},
        {"/music", "music"},
        {"/", ""},  // the root has no name
        {"album", "album"},
        {"album/", "album"},
        {"", ""},
        {"/Музыка/Альбом ё/", "Альбом ё"},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(LastFolderName(in), out) << "«" << in << "»";
}

TEST(Paths, ParentFolder) {
    const std::pair<const char*, const char*> rows[] = {
        {"/music/album/", "/music"},
        {"/music/album", "/music"},
        {"/music/album//", "/music"},
        {"/music", "/"},
        {"/music/", "/"},
        {"/", "/"},  // the root stays where it is
        {"//", "/"},
        {"a/b", "a"},
        {"music", "music"},  // no separator: unchanged
        {"music/", "music"},
        {"", ""},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(ParentFolder(in), out) << "«" << in << "»";
}

TEST(Paths, WinampFolderIsEmptyWithoutRegistry) {
    EXPECT_EQ(WinampFolder(), "");
}

// Builds entries under `root`: "x/" a folder, "x" a file, "x->target" a link.
void MakeTree(const std::string& root, const std::vector<std::string>& entries) {
    for (const std::string& e : entries) {
        const auto arrow = e.find("->");
        const fs::path p = fs::path(root) / e.substr(0, arrow);
        if (arrow != std::string::npos) {
            fs::create_directories(p.parent_path());
            fs::create_symlink(e.substr(arrow + 2), p);
        } else if (e.back() == '/') {
            fs::create_directories(p);
        } else {
            fs::create_directories(p.parent_path());
            test::WriteAll(p.string(), "data");
        }
    }
}

// Everything under `root`, without following links; folders end in "/".
std::vector<std::string> ListTree(const std::string& root) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = e.path().lexically_relative(root).string();
        if (e.is_directory() && !e.is_symlink())
            rel += '/';
        out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(RemoveFolderTree, RemovesOnlyEmptyFolders) {
    struct Row {
        const char* name;
        std::vector<std::string> make;
        std::string target;
        std::vector<std::string> left;
    };
    const Row rows[] = {
        {"all empty", {"t/a/b/", "t/c/"}, "t", {}},
        {"trailing separator", {"t/a/b/", "t/c/"}, "t/", {}},
        {"file at the top", {"t/a/", "t/f"}, "t", {"t/", "t/f"}},
        {"deep file", {"t/a/b/f", "t/c/d/", "t/a/e/"}, "t", {"t/", "t/a/", "t/a/b/", "t/a/b/f"}},
        {"hidden file", {"t/.h", "t/a/"}, "t", {"t/", "t/.h"}},
        {"subfolder only", {"t/a/b/", "t/f"}, "t/a", {"t/", "t/f"}},
        {"target is a file", {"f"}, "f", {"f"}},
        {"missing target", {"x/"}, "nope", {"x/"}},
        // Links are neither followed nor removed.
        {"link to a folder inside",
         {"out/e/", "t/a/", "t/l->../out"},
         "t",
         {"out/", "out/e/", "t/", "t/l"}},
        {"dangling link", {"t/a/l->missing"}, "t", {"t/", "t/a/", "t/a/l"}},
        {"target is a link", {"out/e/", "l->out"}, "l", {"l", "out/", "out/e/"}},
        {"target is a link with separator", {"out/e/", "l->out"}, "l/", {"l", "out/", "out/e/"}},
    };
    for (const Row& r : rows) {
        TempDir dir;
        MakeTree(dir.path(), r.make);
        RemoveFolderTree(dir.path() + "/" + r.target);
        EXPECT_EQ(ListTree(dir.path()), r.left) << r.name;
    }
}

TEST(RemoveFolderTree, KeepsTheCurrentDirectory) {
    TempDir dir;
    MakeTree(dir.path(), {"t/a/", "here/"});
    const fs::path before = fs::current_path();
    fs::current_path(dir.path() + "/here");
    RemoveFolderTree(dir.path() + "/t");
    const fs::path during = fs::current_path();
    fs::current_path(before);
    EXPECT_EQ(during, fs::path(dir.path() + "/here"));
    EXPECT_FALSE(fs::exists(dir.path() + "/t"));
}

TEST(RemoveFolderTree, RelativePath) {
    TempDir dir;
    MakeTree(dir.path(), {"t/a/b/", "t/keep"});
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    RemoveFolderTree("t");
    fs::current_path(before);
    EXPECT_EQ(ListTree(dir.path()), (std::vector<std::string>{"t/", "t/keep"}));
}

}  // namespace
}  // namespace sondrel
