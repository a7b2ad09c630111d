// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/recycle_bin.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

using sondrel::test::ReadAll;
using sondrel::test::TempDir;
using sondrel::test::ToBytes;
using sondrel::test::WriteAll;

// Points the freedesktop trash into a private folder for one test, so the
// user's real trash is never touched.
class RecycleBin : public ::testing::Test {
protected:
    void SetUp() override {
        old_ = qgetenv("XDG_DATA_HOME");
        hadOld_ = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir_.file("data")));
        fs::create_directories(dir_.file("data"));
        ASSERT_EQ(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                  QString::fromStdString(dir_.file("data")));
    }
    void TearDown() override {
        if (hadOld_)
            qputenv("XDG_DATA_HOME", old_);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    std::string Trashed(const std::string& name) const {
        return dir_.file("data/Trash/files/" + name);
    }
    std::string TrashInfo(const std::string& name) const {
        return dir_.file("data/Trash/info/" + name + ".trashinfo");
    }

    TempDir dir_;
    QByteArray old_;
    bool hadOld_ = false;
};

TEST_F(RecycleBin, MovesAFileWithItsOriginalPath) {
    const std::string path = dir_.file("song.mp3");
    WriteAll(path, "audio bytes");
    EXPECT_TRUE(shell::DeleteToRecycleBin(QString::fromStdString(path)));
    EXPECT_FALSE(fs::exists(path));
    ASSERT_TRUE(fs::exists(Trashed("song.mp3")));
    EXPECT_EQ(ReadAll(Trashed("song.mp3")), ToBytes("audio bytes"));
    const auto info = ReadAll(TrashInfo("song.mp3"));
    const std::string infoText(info.begin(), info.end());
    EXPECT_NE(infoText.find("Path="), std::string::npos) << infoText;
}

TEST_F(RecycleBin, MovesAFolderWithItsContent) {
    const std::string folder = dir_.file("Альбом");
    fs::create_directories(folder + "/cd1");
    WriteAll(folder + "/cd1/01.mp3", "one");
    EXPECT_TRUE(shell::DeleteToRecycleBin(folder));  // UTF-8 overload
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(ReadAll(Trashed("Альбом/cd1/01.mp3")), ToBytes("one"));
}

TEST_F(RecycleBin, SameNameTwiceKeepsBoth) {
    const std::string path = dir_.file("a.mp3");
    WriteAll(path, "first");
    ASSERT_TRUE(shell::DeleteToRecycleBin(path));
    WriteAll(path, "second");
    ASSERT_TRUE(shell::DeleteToRecycleBin(path));
    EXPECT_FALSE(fs::exists(path));
    int found = 0;
    bool first = false, second = false;
    for (const auto& e : fs::directory_iterator(dir_.file("data/Trash/files"))) {
        ++found;
        const auto bytes = ReadAll(e.path().string());
        first = first || bytes == ToBytes("first");
        second = second || bytes == ToBytes("second");
    }
    EXPECT_EQ(found, 2);
    EXPECT_TRUE(first && second);
}

TEST_F(RecycleBin, MissingOrEmptyPathFails) {
    EXPECT_FALSE(shell::DeleteToRecycleBin(dir_.file("missing.mp3")));
    EXPECT_FALSE(shell::DeleteToRecycleBin(QString()));
    EXPECT_FALSE(fs::exists(dir_.file("data/Trash/files/missing.mp3")));
}

}  // namespace
