// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>

#include "shell/options_window.h"
#include "shell/settings_store.h"
#include "util/codepage.h"

namespace {

TEST(SettingsStore, ReadingRules) {
    QTemporaryDir dir;
    const QString file = dir.filePath("s.ini");
    {
        QSettings raw(file, QSettings::IniFormat);
        raw.setValue("Width", "wide");
        raw.setValue("Height", " 600 ");
        raw.setValue("flOn", "7");
        raw.setValue("flOff", "0");
        raw.setValue("flBad", "yes");
    }
    SettingsStore store(file);
    struct Row {
        const char* name;
        int def;
        int expected;
    };
    const Row ints[] = {
        {"Width", 430, 430},   // not a decimal number: the default
        {"Height", 580, 600},  // surrounding blanks are tolerated
        {"Missing", 17, 17},   // missing: the default
    };
    for (const Row& r : ints)
        EXPECT_EQ(store.ReadInteger(r.name, r.def), r.expected) << r.name;
    EXPECT_TRUE(store.ReadBool("flOn", false));  // any non-zero integer is true
    EXPECT_FALSE(store.ReadBool("flOff", true));
    EXPECT_TRUE(store.ReadBool("flBad", true));  // bad integer: the default
    EXPECT_FALSE(store.ReadBool("flBad", false));
    EXPECT_EQ(store.ReadString("Missing", "x"), QStringLiteral("x"));
}

TEST(SettingsStore, WritesTextAndKeepsTheFilePrivate) {
    QTemporaryDir dir;
    const QString file = dir.filePath("s.ini");
    {
        SettingsStore store(file);
        store.WriteInteger("Left", -5);
        store.WriteBool("flShowDirs", false);
        store.WriteString("Password", "secret");
    }
    QSettings raw(file, QSettings::IniFormat);
    EXPECT_EQ(raw.value("Left").toString(), QStringLiteral("-5"));
    EXPECT_EQ(raw.value("flShowDirs").toString(), QStringLiteral("0"));
    EXPECT_EQ(QFile::permissions(file) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
              QFileDevice::Permissions());
}

TEST(Options, FirstRunDefaults) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("s.ini"));
    OptionsWindow options(store);
    options.LoadSettings();
    EXPECT_TRUE(options.ShowErrors());
    EXPECT_FALSE(options.AutoSave());
    EXPECT_EQ(options.TrackIndex(), 1);
    EXPECT_FALSE(options.PermanentDelete());
    EXPECT_TRUE(options.UsePatterns());
    EXPECT_EQ(options.ProxyServer(), QStringLiteral("Server"));
    EXPECT_EQ(options.ProxyPort(), QStringLiteral("3128"));
    EXPECT_EQ(options.FreeDbServer(), QStringLiteral("https://gnudb.gnudb.org"));
    EXPECT_TRUE(options.ShowHint());
    EXPECT_TRUE(options.PopupHint());
    EXPECT_TRUE(options.MoveWindows());
    EXPECT_TRUE(options.AssociateFolders());
    EXPECT_TRUE(options.AssociateFilesMP3());
    // No player folder registered here: play with the installed program.
    EXPECT_TRUE(options.WinAmpPath().isEmpty());
    EXPECT_EQ(options.PlayFiles(), 2);
    EXPECT_TRUE(options.AskBeforeDiscard());
    EXPECT_EQ(options.CodePage(), QStringLiteral("ISO-8859-1"));
}

TEST(Options, EveryValueRoundTrips) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("s.ini"));
    {
        OptionsWindow options(store);
        options.LoadSettings();
        for (QCheckBox* box : options.findChildren<QCheckBox*>())
            box->toggle();
        options.findChild<QComboBox*>("cbTrackIndex")->setCurrentIndex(2);
        options.findChild<QComboBox*>("cbFocus")->setCurrentIndex(5);
        options.findChild<QComboBox*>("cbFreeDB")->setCurrentIndex(3);
        options.findChild<QLineEdit*>("edServer")->setText("proxy.local");
        options.findChild<QSpinBox*>("edPort")->setValue(8080);
        options.findChild<QLineEdit*>("edUser")->setText("me");
        options.findChild<QLineEdit*>("edPassword")->setText("pw");
        options.findChild<QLineEdit*>("edWinAmp")->setText("/opt/player/");
        options.findChild<QRadioButton*>("rbPlay1")->setChecked(true);
        options.findChild<QComboBox*>("cbCodePage")->setCurrentText("windows-1251");
        options.SaveSettings();
    }
    OptionsWindow back(store);
    back.LoadSettings();
    EXPECT_FALSE(back.ShowErrors());
    EXPECT_TRUE(back.AutoSave());
    EXPECT_TRUE(back.PermanentDelete());
    EXPECT_TRUE(back.UseTrayIcon());
    EXPECT_TRUE(back.SaveHistory());
    EXPECT_FALSE(back.UsePatterns());
    EXPECT_TRUE(back.UseProxy());
    EXPECT_TRUE(back.ApproximateImageSearch());
    EXPECT_FALSE(back.ShowHint());
    EXPECT_TRUE(back.StretchPicture());
    EXPECT_TRUE(back.TopText());
    EXPECT_TRUE(back.TopInfo());
    EXPECT_FALSE(back.PopupHint());
    EXPECT_TRUE(back.TopPictures());
    EXPECT_FALSE(back.MoveWindows());
    EXPECT_TRUE(back.ShowSelectedSubfolders());
    EXPECT_TRUE(back.SnapWindows());
    EXPECT_TRUE(back.SelectFileOnPopup());
    EXPECT_FALSE(back.AssociateFolders());
    EXPECT_FALSE(back.AssociateFilesMP3());
    EXPECT_EQ(back.TrackIndex(), 2);
    EXPECT_EQ(back.FocusAfterSave(), 5);
    EXPECT_EQ(back.FreeDbServer(), OptionsWindow::FreeDbServers()[3]);
    EXPECT_EQ(back.ProxyServer(), QStringLiteral("proxy.local"));
    EXPECT_EQ(back.ProxyPort(), QStringLiteral("8080"));
    EXPECT_EQ(back.ProxyUser(), QStringLiteral("me"));
    EXPECT_EQ(back.ProxyPassword(), QStringLiteral("pw"));
    EXPECT_EQ(back.WinAmpPath(), QStringLiteral("/opt/player/"));
    EXPECT_EQ(back.PlayFiles(), 1);
    EXPECT_FALSE(back.AskBeforeDiscard());
    EXPECT_EQ(back.CodePage(), QStringLiteral("windows-1251"));
    EXPECT_EQ(store.ReadString("flShowError"), QStringLiteral("0"));
}

TEST(Options, TheCodePageListIsTheCoresAndAStrangeValueReadsAsTheDefault) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("s.ini"));
    OptionsWindow options(store);
    auto* box = options.findChild<QComboBox*>("cbCodePage");
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->count(), static_cast<int>(sondrel::kLegacyCodePages.size()));
    for (int i = 0; i < box->count(); ++i)
        EXPECT_EQ(box->itemText(i).toStdString(),
                  sondrel::kLegacyCodePages[static_cast<std::size_t>(i)]);
    // Stored names are matched without regard to case; unknown ones fall back.
    const std::pair<const char*, const char*> cases[] = {
        {"WINDOWS-1251", "windows-1251"},
        {"no-such-page", "ISO-8859-1"},
        {"", "ISO-8859-1"},
    };
    for (const auto& [stored, shown] : cases) {
        store.WriteString("CodePage", QString::fromLatin1(stored));
        options.LoadSettings();
        EXPECT_EQ(options.CodePage(), QString::fromLatin1(shown)) << stored;
    }
}

TEST(Options, OkSavesAndAppliesCloseDoesNeither) {
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("s.ini"));
    OptionsWindow options(store);
    options.LoadSettings();
    int applied = 0;
    options.processSettings = [&] { ++applied; };
    options.findChild<QCheckBox*>("cbShowError")->setChecked(false);
    options.findChild<QPushButton*>("btnClose")->click();
    EXPECT_EQ(applied, 0);
    EXPECT_FALSE(store.Contains("flShowError"));
    EXPECT_FALSE(options.ShowErrors());  // the edited state stays live
    options.btnOK()->click();
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(store.ReadString("flShowError"), QStringLiteral("0"));
}

}  // namespace
