// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/pictures_window.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QToolButton>
#include <filesystem>

#include "editor/format_registry.h"
#include "media/test_host.h"
#include "net/fake_http.h"
#include "support/test_support.h"

namespace sondrel {
namespace {

using test::Bytes;
using test::FakeHttp;
using test::TempDir;
using test::TestHost;

std::string Copy(const TempDir& dir, const std::string& sample, const std::string& name) {
    const std::string to = dir.file(name);
    std::filesystem::copy_file(std::string(SONDREL_SOURCE_DIR) + "/samples/" + sample, to);
    return to;
}

QByteArray Encode(int w, int h, const char* format, QColor color = Qt::darkCyan) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

std::string Write(const TempDir& dir, const std::string& name, const QByteArray& bytes) {
    test::WriteAll(dir.file(name), Bytes(bytes.begin(), bytes.end()));
    return dir.file(name);
}

// A PNG whose header claims width x height: a small file that would decode
// to a huge canvas.
QByteArray PngClaiming(std::uint32_t width, std::uint32_t height) {
    QByteArray png = Encode(8, 8, "PNG");
    auto put32 = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            png[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    put32(16, width);
    put32(20, height);
    // IHDR's CRC over type and data (bytes 12..28).
    std::uint32_t crc = 0xFFFFFFFFu;
    for (int i = 12; i < 29; ++i) {
        crc ^= static_cast<std::uint8_t>(png[i]);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    put32(29, ~crc);
    return png;
}

struct PicturesWindowTest : ::testing::Test {
    TempDir dir;
    TestHost host;
    FakeHttp http;
    std::vector<QString> messages;
    std::unique_ptr<PicturesWindow> window;

    void SetUp() override {
        window = std::make_unique<PicturesWindow>(&host, &http);
        // These cases are the store search's; the Cover Art Archive has its own.
        window->cbCoverSource()->setCurrentIndex(PicturesWindow::kCoverFromStore);
        window->showMessage = [this](const QString& m) { messages.push_back(m); };
        window->confirm = [](const QString&) { return true; };
        net::CoverSettings settings;
        settings.storeBaseTemplate = "http://store.%s.test";
        window->setCoverSettings(settings);
    }
    void Show(const std::string& path) {
        host.ShowFile(path);
        window->ShowPicture();
    }
    int CountIn(const std::string& path) {
        TagBridge bridge;
        const FormatHandler* handler = HandlerOfPath(path);
        handler->LoadPictures(bridge, path);
        return handler->PictureCount(bridge);
    }
};

TEST_F(PicturesWindowTest, FormatsWithoutPicturesShowNone) {
    Show(Copy(dir, "06 - Dusk Tune.ape", "a.ape"));
    EXPECT_EQ(window->windowTitle(), "Picture 0/0");
    for (const char* name : {"btnNew", "btnDelete", "btnSave", "btnPrev", "btnNext"})
        EXPECT_FALSE(window->button(QString::fromLatin1(name))->isEnabled()) << name;
}

// A hidden window is not decoding at every click: it catches up with the
// file shown last when it shows, and then follows each file at once.
TEST_F(PicturesWindowTest, AHiddenWindowShowsTheLatestFileWhenItShows) {
    const std::string mp3 = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    const std::string ape = Copy(dir, "06 - Dusk Tune.ape", "b.ape");
    Show(mp3);
    ASSERT_TRUE(window->AddToSelected(
        QString::fromStdString(Write(dir, "Front.png", Encode(40, 30, "PNG")))));
    ASSERT_FALSE(window->Picture().isNull());
    host.ShowFile(ape);
    window->FileShown();
    EXPECT_FALSE(window->Picture().isNull());  // hidden: still the last picture decoded
    window->show();
    EXPECT_EQ(window->windowTitle(), "Picture 0/0");
    EXPECT_TRUE(window->Picture().isNull());
    host.ShowFile(mp3);
    window->FileShown();
    EXPECT_FALSE(window->Picture().isNull());
    EXPECT_NE(window->windowTitle(), "Picture 0/0");
}

TEST_F(PicturesWindowTest, AddPageDescribeSaveDelete) {
    const std::string mp3 = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    Show(mp3);
    const int before = window->PictureCount();
    const QByteArray png = Encode(40, 30, "PNG");
    const QByteArray jpeg = Encode(30, 40, "JPG");
    ASSERT_TRUE(window->AddToSelected(QString::fromStdString(Write(dir, "Front.png", png))));
    ASSERT_TRUE(window->AddToSelected(QString::fromStdString(Write(dir, "Back.jpg", jpeg))));
    EXPECT_EQ(window->PictureCount(), before + 2);
    EXPECT_EQ(CountIn(mp3), before + 2);
    // Each went in at the shown position (0): the last added comes first.
    EXPECT_EQ(window->PictureIndex(), 0);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Picture 1/%1").arg(before + 2));
    EXPECT_EQ(window->Picture().size(), QSize(30, 40));
    EXPECT_EQ(window->edDescription()->text(), "Back");
    EXPECT_FALSE(window->button(QStringLiteral("btnPrev"))->isEnabled());
    EXPECT_TRUE(window->button(QStringLiteral("btnNext"))->isEnabled());

    window->btnNextClick();
    EXPECT_EQ(window->PictureIndex(), 1);
    EXPECT_EQ(window->Picture().size(), QSize(40, 30));
    EXPECT_EQ(window->edDescription()->text(), "Front");
    EXPECT_TRUE(window->button(QStringLiteral("btnPrev"))->isEnabled());
    for (int i = 0; i < before + 3; ++i)
        window->btnNextClick();
    EXPECT_EQ(window->PictureIndex(), before + 1);  // paging stops at the last picture
    for (int i = 0; i < before + 3; ++i)
        window->btnPrevClick();
    EXPECT_EQ(window->PictureIndex(), 0);
    window->btnNextClick();

    // The description changes in memory, for the next save of the file.
    window->edDescriptionChange(QStringLiteral("Front cover"));
    EXPECT_EQ(Mp3Format().Pictures(host.bridge).at(1).description, "Front cover");

    // Saved bytes are the stored ones; an existing file is not replaced unasked.
    const QString out = QString::fromStdString(dir.file("saved.png"));
    ASSERT_TRUE(window->SavePictureTo(out, false));
    EXPECT_EQ(test::ReadAll(dir.file("saved.png")), Bytes(png.begin(), png.end()));
    test::WriteAll(dir.file("keep.png"), std::string("mine"));
    EXPECT_FALSE(window->SavePictureTo(QString::fromStdString(dir.file("keep.png")), false));
    EXPECT_EQ(test::ReadAll(dir.file("keep.png")), test::ToBytes("mine"));
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().contains(QStringLiteral("not replaced")));
    EXPECT_TRUE(window->SavePictureTo(QString::fromStdString(dir.file("keep.png")), true));
    EXPECT_EQ(test::ReadAll(dir.file("keep.png")), Bytes(png.begin(), png.end()));

    QString proposed;
    window->chooseSaveFile = [&](const QString& name, const QString&) {
        proposed = name;
        return QString();
    };
    window->edDescription()->setText(QStringLiteral("AC/DC: Live?"));
    window->btnSaveClick();
    EXPECT_EQ(QFileInfo(proposed).fileName(), "ACDC Live.png");

    window->btnDeleteClick();
    EXPECT_EQ(CountIn(mp3), before + 1);
    EXPECT_EQ(window->PictureIndex(), 0);
    EXPECT_EQ(window->Picture().size(), QSize(30, 40));
}

TEST_F(PicturesWindowTest, AddingReachesEverySelectedFile) {
    const std::string a = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    const std::string b = Copy(dir, "01 - Morning Tune.mp3", "b.mp3");
    const std::string c = Copy(dir, "03 - Night Tune.wma", "c.wma");
    const std::string d = Copy(dir, "06 - Dusk Tune.ape", "d.ape");
    const Bytes ape = test::ReadAll(d);
    const int countA = CountIn(a), countC = CountIn(c);
    Show(a);
    host.selected = {a, b, c, d};
    ASSERT_TRUE(window->AddToSelected(
        QString::fromStdString(Write(dir, "cover.jpg", Encode(16, 16, "JPG")))));
    EXPECT_EQ(CountIn(a), countA + 1);
    EXPECT_EQ(CountIn(b), countA + 1);
    EXPECT_EQ(CountIn(c), countC + 1);
    EXPECT_EQ(test::ReadAll(d), ape);
    EXPECT_EQ(host.steps, 4);
    EXPECT_TRUE(host.selected.empty());
}

TEST_F(PicturesWindowTest, RefusedPicturesLeaveTheFileAlone) {
    const std::string mp3 = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    Show(mp3);
    const Bytes before = test::ReadAll(mp3);
    const QByteArray jpeg = Encode(64, 64, "JPG");
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* why;
    };
    const Case cases[] = {
        {"bomb.png", PngClaiming(20000, 20000), "100 megapixels"},
        {"notes.jpg", QByteArray("just some text, not a picture"), "not a picture"},
        {"cut.jpg", jpeg.left(jpeg.size() / 3), "cannot be decoded"},
    };
    for (const auto& c : cases) {
        messages.clear();
        EXPECT_FALSE(window->AddToSelected(QString::fromStdString(Write(dir, c.name, c.bytes))))
            << c.name;
        ASSERT_EQ(messages.size(), 1u) << c.name;
        EXPECT_TRUE(messages[0].contains(QLatin1String(c.why)))
            << c.name << ": " << messages[0].toStdString();
        EXPECT_EQ(test::ReadAll(mp3), before) << c.name;
    }
}

TEST_F(PicturesWindowTest, DroppedFilesGoToTheCurrentFile) {
    const std::string mp3 = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    const std::string other = Copy(dir, "01 - Morning Tune.mp3", "b.mp3");
    const Bytes untouched = test::ReadAll(other);
    Show(mp3);
    host.selected = {mp3, other};
    const int before = CountIn(mp3);
    window->DropFiles({QString::fromStdString(Write(dir, "x.png", Encode(8, 8, "PNG"))),
                       QString::fromStdString(Write(dir, "y.jpg", QByteArray("text")))});
    EXPECT_EQ(CountIn(mp3), before + 1);
    EXPECT_EQ(test::ReadAll(other), untouched);
    ASSERT_EQ(window->Failures().size(), 1u);
    EXPECT_EQ(window->Failures()[0].first, dir.file("y.jpg"));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("y.jpg")));
}

TEST_F(PicturesWindowTest, PreviewFitsTheWindow) {
    const std::string mp3 = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    Show(mp3);
    ASSERT_TRUE(window->AddToSelected(
        QString::fromStdString(Write(dir, "wide.png", Encode(400, 300, "PNG")))));
    window->resize(210, 245);
    window->ShowPicture();
    EXPECT_EQ(window->DrawnSize(), QSize(200, 150));
    window->resize(310, 145);
    window->ShowPicture();
    EXPECT_EQ(window->DrawnSize(), QSize(133, 100));
}

TEST_F(PicturesWindowTest, DownloadedCoversAreStoredAsJpeg) {
    const QByteArray jpeg = Encode(20, 20, "JPG", Qt::red);
    QString why;
    EXPECT_EQ(PicturesWindow::CoverAsJpeg(jpeg, &why), jpeg);
    const QByteArray fromPng = PicturesWindow::CoverAsJpeg(Encode(20, 20, "PNG"), &why);
    ASSERT_GE(fromPng.size(), 3);
    EXPECT_EQ(fromPng.left(3), QByteArray("\xFF\xD8\xFF"));
    EXPECT_EQ(QImage::fromData(fromPng).size(), QSize(20, 20));
    EXPECT_TRUE(PicturesWindow::CoverAsJpeg(PngClaiming(20000, 20000), &why).isEmpty());
    EXPECT_TRUE(why.contains(QStringLiteral("megapixels")));
    EXPECT_TRUE(PicturesWindow::CoverAsJpeg(QByteArray("<html>"), &why).isEmpty());

    // Two files of one album: the cover is fetched once and added to both.
    const std::string a = Copy(dir, "01 - Morning Tune.mp3", "a.mp3");
    const std::string b = Copy(dir, "01 - Morning Tune.mp3", "b.mp3");
    TagBridge read;
    read.Read(a);
    const auto& hub = read.Hub();
    ASSERT_FALSE(hub.album.empty());
    net::CoverSettings settings;
    settings.storeBaseTemplate = "http://store.%s.test";
    const std::string query =
        net::StoreQueryUrl(settings, "com", net::CoverKeywords(hub.artist + " " + hub.album));
    http.pages[query] = {200, "<LargeImage><URL>http://img.test/c.jpg</URL></LargeImage>"};
    http.pages["http://img.test/c.jpg"] = {200, jpeg.toStdString()};
    const int count = CountIn(a);
    Show(a);
    host.selected = {a, b};
    window->btnDownloadClick();
    EXPECT_EQ(CountIn(a), count + 1);
    EXPECT_EQ(CountIn(b), count + 1);
    EXPECT_EQ(std::count(http.asked.begin(), http.asked.end(), "http://img.test/c.jpg"), 1);
    EXPECT_TRUE(window->Failures().empty());
    EXPECT_EQ(window->PictureIndex(), 0);
    EXPECT_EQ(window->Picture().pixelColor(10, 10).red(),
              QImage::fromData(jpeg).pixelColor(10, 10).red());

    // Without a network client the download is refused with a message.
    PicturesWindow offline(&host, nullptr);
    std::vector<QString> said;
    offline.showMessage = [&](const QString& m) { said.push_back(m); };
    offline.btnDownloadClick();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].contains(QStringLiteral("not available")));
}

// Pictures added through the window read back identically with mutagen.
TEST_F(PicturesWindowTest, PeersReadAddedPictures) {
    if (!test::HaveMutagen() &&
        test::RunCommand("/usr/bin/python3 -c 'import mutagen' >/dev/null 2>&1").exitCode != 0)
        GTEST_SKIP() << "mutagen is not installed";
    const std::string python =
        test::RunCommand("python3 -c 'import mutagen' >/dev/null 2>&1").exitCode == 0
            ? "python3"
            : "/usr/bin/python3";
    const QByteArray jpeg = Encode(24, 18, "JPG", Qt::yellow);
    const std::string picture = Write(dir, "Cover Art.jpg", jpeg);
    struct Case {
        const char* sample;
        const char* name;
        const char* description;
    };
    const Case cases[] = {
        {"01 - Morning Tune.mp3", "p.mp3", "Cover Art"},
        {"03 - Night Tune.wma", "p.wma", "Cover Art"},
        {"04 - Dawn Tune.m4a", "p.m4a", ""},
    };
    for (const auto& c : cases) {
        const std::string path = Copy(dir, c.sample, c.name);
        // The peer reads the first picture: put the new one in front.
        Show(path);
        ASSERT_TRUE(window->AddToSelected(QString::fromStdString(picture))) << c.name;
        const std::string out = dir.file(std::string(c.name) + ".out");
        const auto r = test::RunCommand(
            python + " " +
            test::ShellQuote(std::string(SONDREL_SOURCE_DIR) + "/tests/media/picture_dump.py") +
            " " + test::ShellQuote(path) + " " + test::ShellQuote(out) + " 2>&1");
        ASSERT_EQ(r.exitCode, 0) << c.name << ": " << r.output;
        EXPECT_EQ(test::ReadAll(out), Bytes(jpeg.begin(), jpeg.end())) << c.name;
        EXPECT_NE(r.output.find("image/j"), std::string::npos) << c.name << ": " << r.output;
        EXPECT_NE(r.output.find(c.description), std::string::npos) << c.name;
    }
}

}  // namespace
}  // namespace sondrel
