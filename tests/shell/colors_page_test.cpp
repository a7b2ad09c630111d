// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/colors_page.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "shell/settings_store.h"

namespace {

// A data folder with one skin holding `schemes` (name and file text).
struct SkinFolder {
    QTemporaryDir data;
    SettingsStore store{data.filePath("settings.ini")};
    QString skin() const { return data.filePath("skins/Blue"); }
    explicit SkinFolder(std::initializer_list<std::pair<const char*, const char*>> schemes) {
        QDir(data.path()).mkpath(QStringLiteral("skins/Blue"));
        QDir(data.path()).mkpath(QStringLiteral("skins/Dark"));
        for (const auto& [name, text] : schemes) {
            QFile f(skin() + QLatin1Char('/') + QLatin1String(name));
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(text);
        }
        store.WriteString(QStringLiteral("Skin"), QStringLiteral("Blue"));
    }
};

TEST(ColorsPage, SkinsAreTheFoldersWithSystemFirst) {
    SkinFolder f({});
    QTemporaryDir user;
    QDir(user.path()).mkpath(QStringLiteral("skins/Mine"));
    QDir(user.path()).mkpath(QStringLiteral("skins/blue"));  // the program's Blue already
    EXPECT_EQ(shell::SkinNames({f.data.path(), user.path()}),
              (QStringList{"System", "Blue", "Dark", "Mine"}));
    EXPECT_EQ(shell::SkinFolder({f.data.path()}, QStringLiteral("Blue")), f.skin());
    for (const char* name : {"System", "..", "../skins/Blue", "Nowhere", ""})
        EXPECT_TRUE(shell::SkinFolder({f.data.path()}, QLatin1String(name)).isEmpty()) << name;
}

TEST(ColorsPage, LoadsTheSchemeAndReportsAShortOne) {
    SkinFolder f({{"default.sch", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n"},
                  {"Short.sch", "11\r\n12\r\n13\r\n14\r\n15\r\n16\r\n17\r\n"}});
    shell::ColorsPage page(f.store, {f.data.path()});
    QStringList told;
    page.tell = [&](const QString& t) { told << t; };
    ASSERT_TRUE(page.LoadSettings());
    EXPECT_EQ(page.colors(), (sondrel::SchemeColors{1, 2, 3, 4, 5, 6, 7, 8}));
    auto* list = page.findChild<QComboBox*>(QStringLiteral("cbColorScheme"));
    EXPECT_EQ(list->currentText(), QStringLiteral("default"));
    EXPECT_TRUE(told.isEmpty());

    // Seven lines set seven colours and say "File Error".
    EXPECT_FALSE(page.LoadScheme(QStringLiteral("Short")));
    EXPECT_EQ(page.colors(), (sondrel::SchemeColors{11, 12, 13, 14, 15, 16, 17, 8}));
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told.front().startsWith(QStringLiteral("File Error")));
}

TEST(ColorsPage, ColourBoxesAndSavingASchemeUnderANewName) {
    SkinFolder f({{"default.sch", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n"}});
    shell::ColorsPage page(f.store, {f.data.path()});
    ASSERT_TRUE(page.LoadSettings());
    page.askColor = [](const QColor&) { return QColor(0x10, 0x20, 0x30); };
    auto* box = page.findChild<QPushButton*>(QStringLiteral("btnColor4"));
    box->click();
    EXPECT_EQ(page.colors()[3], 0x302010u);  // red in the low byte
    EXPECT_EQ(box->text(), QStringLiteral("302010"));
    page.askColor = [](const QColor&) { return QColor(); };  // cancelled
    box->click();
    EXPECT_EQ(page.colors()[3], 0x302010u);

    ASSERT_TRUE(page.SaveScheme(QStringLiteral("Dark")));
    QFile saved(f.skin() + QStringLiteral("/Dark.sch"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("1\r\n2\r\n3\r\n3153936\r\n5\r\n6\r\n7\r\n8\r\n"));
    auto* list = page.findChild<QComboBox*>(QStringLiteral("cbColorScheme"));
    EXPECT_EQ(list->currentText(), QStringLiteral("Dark"));
    EXPECT_NE(list->findText(QStringLiteral("default")), -1);
    page.SaveSettings();
    EXPECT_EQ(f.store.ReadString(QStringLiteral("ColorScheme")), QStringLiteral("Dark.sch"));

    QStringList told;
    page.tell = [&](const QString& t) { told << t; };
    EXPECT_FALSE(page.SaveScheme(QStringLiteral("../escape")));
    EXPECT_FALSE(QFile::exists(f.data.filePath("skins/escape.sch")));
    EXPECT_EQ(told.size(), 1);
}

TEST(ColorsPage, ASavedSchemeGoesToTheUsersFolderNotTheInstalledSkin) {
    SkinFolder f({{"default.sch", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n"}});
    QTemporaryDir user;
    ASSERT_TRUE(user.isValid());
    shell::ColorsPage page(f.store, {user.path(), f.data.path()});
    page.setUserFolder(user.path());
    ASSERT_TRUE(page.LoadSettings());
    page.SetColor(0, QColor(0, 0, 0xff));
    ASSERT_TRUE(page.SaveScheme(QStringLiteral("Mine")));
    EXPECT_FALSE(QFile::exists(f.skin() + QStringLiteral("/Mine.sch")));
    QFile saved(user.filePath(QStringLiteral("schemes/Blue/Mine.sch")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("16711680\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n"));
    // The skin itself is still the installed one, and both schemes are offered.
    EXPECT_EQ(shell::SkinFolder({user.path(), f.data.path()}, QStringLiteral("Blue")), f.skin());
    auto* list = page.findChild<QComboBox*>(QStringLiteral("cbColorScheme"));
    EXPECT_NE(list->findText(QStringLiteral("default")), -1);
    EXPECT_EQ(list->currentText(), QStringLiteral("Mine"));

    // A scheme of the user's own name wins over the skin's, and is read back.
    ASSERT_TRUE(page.SaveScheme(QStringLiteral("default")));
    EXPECT_TRUE(page.LoadScheme(QStringLiteral("default")));
    EXPECT_EQ(page.colors()[0], 0xFF0000u);
    QFile shipped(f.skin() + QStringLiteral("/default.sch"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    EXPECT_EQ(shipped.readAll(), QByteArray("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n"));
}

TEST(ColorsPage, SchemeColoursReachTheControls) {
    const sondrel::SchemeColors colors = {0x0000FF, 0x00FF00, 0x111111, 0xFF0000,
                                          0x222222, 0x333333, 0x444444, 0x00FFFF};
    QWidget window;
    auto* edit = new QLineEdit(&window);
    shell::ApplySchemeColors(&window, colors);
    const QPalette p = edit->palette();
    EXPECT_EQ(p.color(QPalette::Window), QColor(Qt::red));
    EXPECT_EQ(p.color(QPalette::Base), QColor(Qt::green));
    EXPECT_EQ(p.color(QPalette::Text), QColor(Qt::blue));
    EXPECT_EQ(p.color(QPalette::Highlight), QColor(Qt::yellow));
    EXPECT_EQ(p.color(QPalette::Button), QColor(0x22, 0x22, 0x22));
    shell::ApplySystemColors(&window);
    EXPECT_EQ(edit->palette().color(QPalette::Window), QPalette().color(QPalette::Window));
}

}  // namespace
