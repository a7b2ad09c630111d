// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/lyrics_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>
#include <filesystem>

#include "media/test_host.h"
#include "net/fake_http.h"
#include "support/test_support.h"

namespace sondrel {
namespace {

using test::FakeHttp;
using test::TempDir;
using test::TestHost;

const char kBase[] = "http://search.test";

std::string Copy(const TempDir& dir, const std::string& sample, const std::string& name) {
    const std::string to = dir.file(name);
    std::filesystem::copy_file(std::string(SONDREL_SOURCE_DIR) + "/samples/" + sample, to);
    return to;
}

std::string ResultsPage(const std::vector<std::string>& links) {
    std::string page = "<html>Results 1-" + std::to_string(links.size()) + " of about 9 for x";
    for (const auto& link : links)
        page += "<p><a href=" + link + ">t</a>";
    return page;
}

// Answers the search for `path`'s artist and title with one lyrics page.
void AnswerFor(FakeHttp& http, const std::string& path, const std::string& lyricsHtml) {
    TagBridge bridge;
    bridge.Read(path);
    const std::string query = net::LyricsQuery(bridge.Hub().artist, bridge.Hub().title);
    const std::string page = "http://lyrics.test/" + std::to_string(http.pages.size());
    http.pages[net::LyricsSearchUrl(kBase, query, 0)] = {200, ResultsPage({page})};
    http.pages[page] = {200, lyricsHtml};
}

struct LyricsWindowTest : ::testing::Test {
    TempDir dir;
    TestHost host;
    FakeHttp http;
    std::vector<QString> messages;
    std::unique_ptr<LyricsWindow> window;

    void SetUp() override {
        window = std::make_unique<LyricsWindow>(&host, &http);
        // These cases are the web search's; LRCLIB has its own.
        window->cbLyricsSource()->setCurrentIndex(LyricsWindow::kLyricsFromWeb);
        net::LyricsSettings settings;
        settings.searchBase = kBase;
        window->setSearchSettings(settings);
        window->showMessage = [this](const QString& m) { messages.push_back(m); };
        window->confirm = [](const QString&) { return true; };
    }
};

TEST_F(LyricsWindowTest, EveryEditReachesTheBufferButShowingDoesNot) {
    host.lyrics = QStringLiteral("first verse");
    window->ShowLyrics();
    EXPECT_EQ(window->memo()->toPlainText(), "first verse");
    EXPECT_EQ(host.lyricsSets, 0);
    window->memo()->moveCursor(QTextCursor::End);
    window->memo()->insertPlainText(QStringLiteral("\nsecond"));
    EXPECT_EQ(host.lyrics, "first verse\nsecond");
    window->memo()->undo();
    EXPECT_EQ(host.lyrics, "first verse");
    EXPECT_GE(host.lyricsSets, 2);
}

TEST_F(LyricsWindowTest, EditCommandsFollowTheSelection) {
    window->memo()->setPlainText(QStringLiteral("some words"));
    EXPECT_FALSE(window->action(QStringLiteral("actCut"))->isEnabled());
    window->memo()->selectAll();
    EXPECT_TRUE(window->action(QStringLiteral("actCut"))->isEnabled());
    EXPECT_TRUE(window->action(QStringLiteral("actCopy"))->isEnabled());
    window->action(QStringLiteral("actCut"))->trigger();
    EXPECT_EQ(window->memo()->toPlainText(), "");
    EXPECT_EQ(host.lyrics, "");
    window->action(QStringLiteral("actPaste"))->trigger();
    EXPECT_EQ(host.lyrics, "some words");
}

TEST_F(LyricsWindowTest, LoadsTextFilesByKindAndSavesThem) {
    struct Case {
        const char* name;
        std::string bytes;
        QString text;
    };
    const Case cases[] = {
        {"utf8.txt", "Caf\xC3\xA9\r\nline", QStringLiteral("Café\nline")},
        {"bom.txt", "\xEF\xBB\xBFwith bom", QStringLiteral("with bom")},
        {"legacy.txt", "Caf\xE9\rold mac", QStringLiteral("Café\nold mac")},
        {"rich.RTF", R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}Verse\par Caf\'e9})",
         QStringLiteral("Verse\nCafé")},
    };
    for (const auto& c : cases) {
        test::WriteAll(dir.file(c.name), c.bytes);
        EXPECT_TRUE(window->LoadFile(QString::fromStdString(dir.file(c.name)))) << c.name;
        EXPECT_EQ(window->memo()->toPlainText(), c.text) << c.name;
        EXPECT_EQ(host.lyrics, c.text) << c.name;
    }
    window->memo()->setPlainText(QStringLiteral("Ünï\ntwo"));
    ASSERT_TRUE(window->SaveFile(QString::fromStdString(dir.file("out.txt"))));
    EXPECT_EQ(test::ReadAll(dir.file("out.txt")), test::ToBytes("\xC3\x9Cn\xC3\xAF\r\ntwo"));

    EXPECT_FALSE(window->LoadFile(QString::fromStdString(dir.file("missing.txt"))));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("missing.txt")));
    EXPECT_EQ(window->memo()->toPlainText(), "Ünï\ntwo");
    EXPECT_FALSE(window->SaveFile(QString::fromStdString(dir.file("no/such/folder/x.txt"))));
    EXPECT_EQ(messages.size(), 2u);
}

TEST_F(LyricsWindowTest, DroppedFileIsLoaded) {
    test::WriteAll(dir.file("a.txt"), std::string("dropped"));
    test::WriteAll(dir.file("b.txt"), std::string("second"));
    EXPECT_TRUE(window->DropUrls({QUrl::fromLocalFile(QString::fromStdString(dir.file("a.txt"))),
                                  QUrl::fromLocalFile(QString::fromStdString(dir.file("b.txt")))}));
    EXPECT_EQ(window->memo()->toPlainText(), "dropped");
    EXPECT_FALSE(window->DropUrls({QUrl(QStringLiteral("http://example.test/x.txt"))}));
    EXPECT_EQ(window->memo()->toPlainText(), "dropped");
}

TEST_F(LyricsWindowTest, DownloadShowsLyricsOrTheOutcome) {
    const std::string mp3 = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    host.current = mp3;
    AnswerFor(http, mp3, "<body><p>Sun is up<br>Sing along</p></body>");
    window->btnDownloadClick();
    EXPECT_EQ(window->memo()->toPlainText(), "Sun is up\nSing along");
    EXPECT_EQ(host.lyrics, "Sun is up\nSing along");
    EXPECT_EQ(window->lyricsCount, 1);
    EXPECT_TRUE(window->action(QStringLiteral("btnStop"))->isEnabled());

    // The next result does not exist: the outcome is shown, not a box.
    window->btnStopClick();
    EXPECT_TRUE(window->memo()->toPlainText().startsWith(QStringLiteral("Errors: ")));
    EXPECT_EQ(window->memo()->toPlainText(),
              QStringLiteral("Errors: ") + LyricsWindow::OutcomeText(net::kLyricsOtherPage));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->lyricsCount, 2);
}

TEST_F(LyricsWindowTest, WithoutANetworkClientDownloadsAreRefusedWithAMessage) {
    LyricsWindow offline(&host, nullptr);
    std::vector<QString> said;
    offline.showMessage = [&](const QString& m) { said.push_back(m); };
    host.current = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    offline.btnDownloadClick();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].contains(QStringLiteral("not available")));
}

TEST_F(LyricsWindowTest, BatchSavesEachFileAndListsTheFailures) {
    const std::string a = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    const std::string b = Copy(dir, "03 - Night Tune.wma", "b.wma");
    const std::string c = Copy(dir, "02 - Evening Tune.ogg", "c.ogg");
    AnswerFor(http, a, "<p>lyrics of a</p>");
    AnswerFor(http, b, "<p>lyrics of b</p>");
    // Nothing answers for c: its search page is missing (404).
    host.selected = {a, b, c};
    host.current = a;
    window->btnDownloadClick();
    EXPECT_EQ(host.progressMax, 3);
    EXPECT_EQ(host.steps, 3);
    EXPECT_TRUE(host.finished);
    EXPECT_TRUE(host.selected.empty());
    for (auto [path, text] : {std::pair{a, "lyrics of a"}, std::pair{b, "lyrics of b"}}) {
        TagBridge read;
        read.Read(path);
        EXPECT_EQ(read.Hub().text, text) << path;
    }
    ASSERT_EQ(window->Failures().size(), 1u);
    EXPECT_EQ(window->Failures()[0].first, c);
    EXPECT_EQ(window->Failures()[0].second,
              LyricsWindow::OutcomeText(net::kLyricsSearchError).toStdString());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("c.ogg")));
}

TEST_F(LyricsWindowTest, BatchStopsWhenTheProgressWindowIsStopped) {
    const std::string a = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    const std::string b = Copy(dir, "01 - Morning Tune.mp3", "b.mp3");
    AnswerFor(http, a, "<p>words</p>");
    const test::Bytes before = test::ReadAll(b);
    host.selected = {a, b};
    host.stopAfterSteps = 1;
    window->btnDownloadClick();
    EXPECT_EQ(host.steps, 1);
    EXPECT_EQ(host.selected, std::vector<std::string>{b});
    EXPECT_EQ(test::ReadAll(b), before);
}

}  // namespace
}  // namespace sondrel
