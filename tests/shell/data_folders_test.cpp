// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "shell/data_folders.h"

namespace {

using namespace shell;

// Sets an environment variable for one scope, then puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

TEST(DataFolders, UserFirstThenInstalledThenBuildTree) {
    ScopedEnv xdg("XDG_DATA_HOME", "/home/u/.data");
    EXPECT_EQ(UserDataFolder(), "/home/u/.data/sondrel");
    // The installed folder is found from the program's own, wherever the tree
    // was put; a build tree equal to it is not looked in twice.
    EXPECT_EQ(DataFolders("/opt/x/usr/bin", "../share/sondrel", "/src/build/share/sondrel"),
              (QStringList{"/home/u/.data/sondrel", "/opt/x/usr/share/sondrel",
                           "/src/build/share/sondrel"}));
    EXPECT_EQ(DataFolders("/usr/bin", "../share/sondrel", ""),
              (QStringList{"/home/u/.data/sondrel", "/usr/share/sondrel"}));
    EXPECT_EQ(DataFolders("/usr/bin", "../share/sondrel", "/usr/share/sondrel/"),
              (QStringList{"/home/u/.data/sondrel", "/usr/share/sondrel"}));
}

TEST(DataFolders, UserFolderFollowsTheXdgRule) {
    ScopedEnv home("HOME", "/home/u");
    {
        ScopedEnv xdg("XDG_DATA_HOME", "");
        EXPECT_EQ(UserDataFolder(), "/home/u/.local/share/sondrel");
    }
    {
        // A relative path is invalid by the XDG rule and ignored.
        ScopedEnv xdg("XDG_DATA_HOME", "relative/data");
        EXPECT_EQ(UserDataFolder(), "/home/u/.local/share/sondrel");
    }
}

TEST(DataFolders, FirstMatchWinsAndAMissingFileNamesEveryPlace) {
    QTemporaryDir user, installed;
    ASSERT_TRUE(user.isValid() && installed.isValid());
    for (const QString& path : {installed.filePath("sites.dat"), installed.filePath("English.lng"),
                                user.filePath("English.lng")}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(installed.path()).mkpath("skins/Graphite"));
    const QStringList folders{user.path(), installed.path()};
    EXPECT_EQ(FindDataFile(folders, "English.lng"), user.filePath("English.lng"));
    EXPECT_EQ(FindDataFile(folders, "sites.dat"), installed.filePath("sites.dat"));
    EXPECT_EQ(FindDataFile(folders, "skins/Graphite"), installed.filePath("skins/Graphite"));
    EXPECT_EQ(FindDataFile(folders, "German.lng"), QString());
    EXPECT_EQ(NotFoundText("German.lng", folders),
              "German.lng was not found in: " + user.path() + ", " + installed.path());
}

}  // namespace
