// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/language_apply.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <memory>
#include <set>

#include "media/lyrics_window.h"
#include "media/pictures_window.h"
#include "shell/about_window.h"
#include "shell/batch_window.h"
#include "shell/colors_page.h"
#include "shell/file_list.h"
#include "shell/info_window.h"
#include "shell/main_window.h"
#include "shell/media_link.h"
#include "shell/options_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"

namespace {

const QString kLangFolder = QStringLiteral(SONDREL_SOURCE_DIR "/resources/lang");

// Every window of the program, made in the start-up order.
struct Program {
    QTemporaryDir dir;
    SettingsStore store{dir.filePath("settings.ini")};
    MainWindow main{store};
    AboutWindow about{&main};
    ProgressWindow wait{&main};
    InfoWindow info{&main};
    OptionsWindow options{store, &main};
    MediaLink media{main.fileList(), main.tagEditor(), &wait};
    LyricsWindow lyrics{&media, nullptr, &main};
    PicturesWindow pictures{&media, nullptr, &main};
    shell::LanguageApplier language;

    explicit Program(const QStringList& folders = {kLangFolder}) : language(folders) {
        main.setCompanions(&wait, &info, &options, &about);
        main.setMediaWindows(&lyrics, &pictures);
        options.pages()->addTab(new shell::ColorsPage(store, {}, &options),
                                QStringLiteral("Colors"));
    }
    std::vector<QWidget*> Windows() {
        return {&main, &about, &wait, &info, &options, &lyrics, &pictures, main.batchWindow()};
    }
    void AttachAll() {
        for (QWidget* w : Windows())
            language.Attach(w);
    }
};

// Every text a user can see in `window` (captions, hints, titles, entries),
// tagged with where it is, so two dumps show what a language changed.
QStringList Dump(QWidget* window) {
    QStringList out;
    auto add = [&](QObject* o, const char* what, const QString& text) {
        out << QStringLiteral("%1/%2/%3:%4")
                   .arg(window->objectName(), o->metaObject()->className(), QLatin1String(what),
                        text);
    };
    add(window, "title", window->windowTitle());
    for (QObject* o : window->findChildren<QObject*>()) {
        if (auto* b = qobject_cast<QAbstractButton*>(o))
            add(o, "text", b->text());
        if (auto* l = qobject_cast<QLabel*>(o))
            add(o, "text", l->text());
        if (auto* g = qobject_cast<QGroupBox*>(o))
            add(o, "text", g->title());
        if (auto* a = qobject_cast<QAction*>(o)) {
            add(o, "text", a->text());
            add(o, "hint", a->toolTip());
            add(o, "status", a->statusTip());
        }
        if (auto* m = qobject_cast<QMenu*>(o))
            add(o, "text", m->title());
        if (auto* t = qobject_cast<QTabWidget*>(o))
            for (int i = 0; i < t->count(); ++i)
                add(o, "tab", t->tabText(i));
        if (auto* c = qobject_cast<QComboBox*>(o))
            for (int i = 0; i < c->count(); ++i)
                add(o, "item", c->itemText(i));
        if (auto* v = qobject_cast<QAbstractItemView*>(o); v && v->model())
            for (int i = 0; i < v->model()->columnCount(); ++i)
                add(o, "header", v->model()->headerData(i, Qt::Horizontal).toString());
        if (auto* g = qobject_cast<QTableWidget*>(o))
            for (int i = 0; i < g->rowCount(); ++i)
                add(o, "row", g->item(i, 0) ? g->item(i, 0)->text() : QString());
        if (auto* w = qobject_cast<QWidget*>(o)) {
            add(o, "hint", w->toolTip());
            add(o, "status", w->statusTip());
        }
    }
    return out;
}

QStringList DumpAll(Program& p) {
    QStringList out;
    for (QWidget* w : p.Windows())
        out << Dump(w);
    return out;
}

// The built-in and default messages and every bound control's built-in text.
std::map<int, QString> BuiltInTexts(const shell::LanguageApplier& language) {
    std::map<int, QString> texts;
    for (const auto& [id, text] : sondrel::MessageTable::Defaults())
        texts[id] = QString::fromStdString(text);
    for (const auto& [id, text] : sondrel::MessageTable::BuiltIns())
        texts[id] = QString::fromStdString(text);
    for (const auto& [id, text] : language.CurrentTexts())
        texts[id] = text;
    return texts;
}

std::map<int, QString> ReadIds(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    std::map<int, QString> ids;
    for (const auto& a : sondrel::ParseLanguageText(f.readAll().toStdString(), "windows-1252")) {
        if (!a.key.empty() && std::isdigit(static_cast<unsigned char>(a.key[0])))
            ids[std::stoi(a.key)] = QString::fromStdString(a.value);
    }
    return ids;
}

std::map<std::string, QString> ReadNamed(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    std::map<std::string, QString> named;
    for (const auto& a : sondrel::ParseLanguageText(f.readAll().toStdString(), "windows-1252")) {
        if (a.key.starts_with("var"))
            named[a.key] = QString::fromStdString(a.value);
    }
    return named;
}

TEST(LanguageApply, EveryBindingFindsItsControlAndNoIdIsBoundTwiceInAWindow) {
    Program p;
    p.AttachAll();
    EXPECT_TRUE(p.language.Unresolved().isEmpty())
        << p.language.Unresolved().join(", ").toStdString();
    std::set<std::tuple<int, std::string, std::string, int>> seen;
    for (const shell::TextBinding& b : shell::TextBindings()) {
        EXPECT_TRUE(sondrel::IsActingKey(std::to_string(b.id))) << b.id;
        EXPECT_TRUE(seen.insert({b.id, b.window, b.object, b.index}).second) << b.id;
    }
}

// The shipped English.lng is the program's own texts; SONDREL_WRITE_LNG=<folder>
// writes it again after a caption has changed.
TEST(LanguageApply, ShippedEnglishIsTheBuiltInTextsAndApplyingItChangesNothing) {
    Program p;
    p.AttachAll();
    const std::map<int, QString> builtIn = BuiltInTexts(p.language);
    // A message that also names a control must agree with it.
    for (const auto& [id, text] : sondrel::MessageTable::BuiltIns())
        EXPECT_EQ(builtIn.at(id).toStdString(), text) << id;
    const QByteArray wanted =
        shell::LanguageFileBytes(QStringLiteral("English"), builtIn, shell::BuiltInNamedTexts());
    const QString writeTo = qEnvironmentVariable("SONDREL_WRITE_LNG");
    if (!writeTo.isEmpty()) {
        QFile out(QDir(writeTo).filePath(QStringLiteral("English.lng")));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(wanted);
    }
    QFile shipped(kLangFolder + QStringLiteral("/English.lng"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    EXPECT_EQ(shipped.readAll().toStdString(), wanted.toStdString());

    const QStringList before = DumpAll(p);
    QString error;
    ASSERT_TRUE(p.language.SetLanguage(QStringLiteral("English"), &error)) << error.toStdString();
    EXPECT_EQ(DumpAll(p), before);
}

TEST(LanguageApply, TranslationsAreCompleteUtf8AndSayOtherThanEnglish) {
    const std::map<int, QString> english = ReadIds(kLangFolder + QStringLiteral("/English.lng"));
    ASSERT_GT(english.size(), 100u);
    for (const char* name : {"German", "Russian"}) {
        SCOPED_TRACE(name);
        const QString path = kLangFolder + QStringLiteral("/%1.lng").arg(QLatin1String(name));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_EQ(QString::fromUtf8(bytes).toUtf8(), bytes);  // valid UTF-8
        const std::map<int, QString> texts = ReadIds(path);
        std::size_t same = 0;
        for (const auto& [id, text] : english) {
            const auto it = texts.find(id);
            ASSERT_NE(it, texts.end()) << "missing id " << id;
            EXPECT_FALSE(it->second.isEmpty()) << id;
            // Leading and trailing spaces are part of a message's layout.
            EXPECT_EQ(it->second.startsWith(QLatin1Char(' ')), text.startsWith(QLatin1Char(' ')))
                << id;
            EXPECT_EQ(it->second.endsWith(QLatin1Char(' ')), text.endsWith(QLatin1Char(' '))) << id;
            same += it->second == text;
        }
        for (const auto& [id, text] : texts)
            EXPECT_TRUE(english.count(id)) << "id " << id << " is not one the program uses";
        // Names of programs and formats stay; nearly everything else is translated.
        EXPECT_LT(same, english.size() / 8);
    }
}

TEST(LanguageApply, SwitchingChangesEveryBoundTextAtOnceAndBack) {
    Program p;
    p.AttachAll();
    const QStringList english = DumpAll(p);
    QString error;
    for (const char* name : {"German", "Russian"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(p.language.SetLanguage(QLatin1String(name), &error)) << error.toStdString();
        const std::map<int, QString> file =
            ReadIds(kLangFolder + QStringLiteral("/%1.lng").arg(QLatin1String(name)));
        for (const auto& [id, text] : p.language.CurrentTexts())
            EXPECT_EQ(text, file.at(id)) << id;
        // Ids that name several controls reach each of them: the batch
        // table's columns and the information window's rows.
        QAbstractItemModel* columns =
            p.main.batchWindow()
                ->findChild<QAbstractItemView*>(QStringLiteral("sgRename"))
                ->model();
        const auto* rows = p.info.findChild<QTableWidget*>(QStringLiteral("sgInfo"));
        const std::pair<int, int> columnIds[] = {{0, 33},    {1, 10},    {3, 99},   {4, 9000},
                                                 {10, 7004}, {12, 7003}, {13, 7001}};
        for (const auto& [column, id] : columnIds)
            EXPECT_EQ(columns->headerData(column, Qt::Horizontal).toString(), file.at(id)) << id;
        const std::pair<int, int> rowIds[] = {{0, 7001}, {6, 7008}, {9, 4000}, {11, 7007}};
        for (const auto& [row, id] : rowIds)
            EXPECT_EQ(rows->item(row, 0)->text(), file.at(id)) << id;
        // Every message the windows show, the classic ones and our own.
        for (const auto* table :
             {&sondrel::MessageTable::BuiltIns(), &sondrel::MessageTable::Defaults()})
            for (const auto& [id, builtIn] : *table)
                EXPECT_EQ(shell::Message(id), file.at(id)) << id;
        // The named texts: the selection counter changes at once, the
        // rename dialog takes its caption and prompt when next asked.
        const std::map<std::string, QString> named =
            ReadNamed(kLangFolder + QStringLiteral("/%1.lng").arg(QLatin1String(name)));
        ASSERT_EQ(named.size(), shell::BuiltInNamedTexts().size());
        for (const auto& [key, text] : named)
            EXPECT_EQ(shell::NamedText(key), text) << key;
        EXPECT_TRUE(
            p.main.fileList()->labSelectedFiles()->text().startsWith(named.at("varSelected")));
        EXPECT_NE(DumpAll(p), english);
        ASSERT_TRUE(p.language.SetLanguage(QStringLiteral("English"), &error));
        EXPECT_EQ(DumpAll(p), english);
        for (const auto& [id, builtIn] : sondrel::MessageTable::BuiltIns())
            EXPECT_EQ(shell::Message(id).toStdString(), builtIn) << id;
    }
}

// Messages composed by the windows at the moment they show them.
TEST(LanguageApply, WindowsComposeTheirMessagesInTheLanguageInForce) {
    Program p;
    p.AttachAll();
    QStringList said;
    p.lyrics.showMessage = [&](const QString& m) { said << m; };
    p.pictures.showMessage = [&](const QString& m) { said << m; };
    QString error;
    for (const char* name : {"German", "Russian", "English"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(p.language.SetLanguage(QLatin1String(name), &error)) << error.toStdString();
        const std::map<int, QString> file =
            ReadIds(kLangFolder + QStringLiteral("/%1.lng").arg(QLatin1String(name)));
        said.clear();
        p.lyrics.btnDownloadClick();  // this build's windows have no network client here
        p.pictures.btnDownloadClick();
        EXPECT_EQ(said, QStringList(2, file.at(sondrel::msg::kNoNetworkClient)));
        p.pictures.ShowPicture();  // no file: the caption counts no pictures
        EXPECT_EQ(p.pictures.windowTitle(), file.at(22) + QStringLiteral("0/0"));
    }
}

TEST(LanguageApply, VersionEntriesAreTheValueWithTheirSuffixes) {
    Program p;
    p.AttachAll();
    sondrel::MessageTable messages;
    p.language.Apply(sondrel::ApplyLanguage({{20, "9", "Fassung"}}, messages));
    auto* readTag = p.main.findChild<QComboBox*>(QStringLiteral("cbReadTag"));
    ASSERT_NE(readTag, nullptr);
    EXPECT_EQ(readTag->itemText(0), QStringLiteral("Fassung 1"));
    EXPECT_EQ(readTag->itemText(1), QStringLiteral("Fassung 2"));
    EXPECT_EQ(readTag->itemText(2), QStringLiteral("Fassung 1&2"));
}

TEST(LanguageApply, AWindowShownLaterGetsTheLanguageInForce) {
    Program p;
    for (QWidget* w : {static_cast<QWidget*>(&p.main), static_cast<QWidget*>(&p.options)})
        p.language.Attach(w);
    p.language.AttachWindowsAsShown();
    QString error;
    ASSERT_TRUE(p.language.SetLanguage(QStringLiteral("German"), &error));
    const std::map<int, QString> german = ReadIds(kLangFolder + QStringLiteral("/German.lng"));
    BatchWindow* batch = p.main.batchWindow();
    batch->show();
    EXPECT_EQ(batch->windowTitle(), german.at(9060));
    auto* tabs = batch->findChild<QTabWidget*>(QStringLiteral("pcRename"));
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->tabText(0), german.at(3034));
    batch->hide();
}

TEST(LanguageApply, AMissingOrHalfFileKeepsEveryControlWithText) {
    QTemporaryDir dir;
    QFile half(dir.filePath("Half.lng"));
    ASSERT_TRUE(half.open(QIODevice::WriteOnly));
    // An empty caption is no caption; a key with spaces is no key.
    half.write("5000=\r\n5003 = Auto\r\n18=Sicher?\r\n4000=Liedtext\r\n");
    half.close();
    Program p({dir.path()});
    p.AttachAll();
    const QStringList before = DumpAll(p);
    QString error;
    EXPECT_FALSE(p.language.SetLanguage(QStringLiteral("Missing"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Missing"))) << error.toStdString();
    EXPECT_EQ(DumpAll(p), before);
    // Names that would leave the folders are refused too.
    EXPECT_FALSE(p.language.SetLanguage(QStringLiteral("../Half"), &error));

    ASSERT_TRUE(p.language.SetLanguage(QStringLiteral("&Half"), &error)) << error.toStdString();
    EXPECT_EQ(p.options.findChild<QAbstractButton*>(QStringLiteral("cbShowError"))->text(),
              QStringLiteral("Show errors"));
    EXPECT_EQ(p.options.findChild<QAbstractButton*>(QStringLiteral("cbAutoSave"))->text(),
              QStringLiteral("Auto save for pressing to keys UP or DOWN"));
    EXPECT_EQ(p.lyrics.windowTitle(), QStringLiteral("Liedtext"));
    EXPECT_EQ(shell::Message(18), QStringLiteral("Sicher?"));
}

TEST(LanguageApply, LanguageNamesFromBothFolders) {
    QTemporaryDir program, user;
    auto touch = [](const QTemporaryDir& d, const char* name) {
        QFile f(d.filePath(QLatin1String(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    };
    touch(program, "English.lng");
    touch(program, "German.lng");
    touch(program, ".Hidden.lng");
    touch(program, "notes.txt");
    touch(user, "german.lng");  // the program's own is listed once
    touch(user, "Pirate.v2.lng");
    QDir(user.path()).mkdir(QStringLiteral("Folder.lng"));
    EXPECT_EQ(shell::LanguageNames({program.path(), user.path()}),
              (QStringList{QStringLiteral("English"), QStringLiteral("German"),
                           QStringLiteral("Pirate")}));

    QTemporaryDir many;
    for (int i = 0; i < 35; ++i) {
        QFile f(many.filePath(QStringLiteral("L%1.lng").arg(i, 2, 10, QLatin1Char('0'))));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(shell::LanguageNames({many.path()}).size(), 30);
}

TEST(LanguageApply, MenuChecksTheLanguageInForce) {
    QMenu menu;
    QString inForce = QStringLiteral("English");
    shell::LanguageApplier::FillMenu(
        &menu, {QStringLiteral("English"), QStringLiteral("German"), QStringLiteral("Broken")},
        inForce, [&](const QString& name) {
            if (name != QStringLiteral("Broken"))
                inForce = name;
            return inForce;
        });
    auto checked = [&] {
        QStringList names;
        for (QAction* a : menu.actions())
            if (a->isChecked())
                names << a->text();
        return names;
    };
    EXPECT_EQ(checked(), QStringList{QStringLiteral("English")});
    menu.actions().at(1)->trigger();
    EXPECT_EQ(checked(), QStringList{QStringLiteral("German")});
    menu.actions().at(2)->trigger();
    EXPECT_EQ(checked(), QStringList{QStringLiteral("German")});
}

}  // namespace
