// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/skin_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

namespace {

const QString kSkins = QStringLiteral(SONDREL_SOURCE_DIR "/resources/skins");

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

void WriteImage(const QString& path, const QSize& size, const QColor& colour, const char* format) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(path, format)) << path.toStdString();
}

TEST(SkinWindow, ImagesArePreferredAsBmpThenGif) {
    QTemporaryDir dir;
    WriteImage(dir.filePath("both.bmp"), {3, 3}, Qt::red, "BMP");
    // Qt writes no GIF: the smallest one there is, 1 x 1.
    const QByteArray gif = QByteArray::fromHex(
        "47494638396101000100800000ffffff00000021f90401000000002c00000000010001000002024401003b");
    WriteFile(dir.filePath("both.gif"), gif);
    WriteFile(dir.filePath("gif_only.gif"), gif);
    WriteFile(dir.filePath("broken.bmp"), "not a picture");
    struct Case {
        const char* name;
        int width;  // 0: no picture
    };
    for (const Case& c :
         {Case{"both", 3}, Case{"gif_only", 1}, Case{"missing", 0}, Case{"broken", 0}}) {
        const QPixmap p = shell::LoadSkinImage(dir.path(), QLatin1String(c.name));
        EXPECT_EQ(p.isNull() ? 0 : p.width(), c.width) << c.name;
    }
}

TEST(SkinWindow, RegionTextsBecomeRegionsAndErrorsSayWhere) {
    QString error;
    const auto region =
        shell::RegionFromText(QStringLiteral("R0,0,W,H\r\nD\r\nR0,0,10,10"), {100, 50}, &error);
    ASSERT_TRUE(region) << error.toStdString();
    EXPECT_FALSE(region->contains(QPoint(5, 5)));
    EXPECT_TRUE(region->contains(QPoint(50, 25)));
    EXPECT_TRUE(region->contains(QPoint(99, 49)));
    EXPECT_FALSE(region->contains(QPoint(100, 49)));

    EXPECT_FALSE(
        shell::RegionFromText(QStringLiteral("R0,0,W,H\r\nR0,0,1/0,5"), {100, 50}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("line 2"))) << error.toStdString();
}

TEST(SkinWindow, NamedRegionsComeFromTheSkinsOwnFolderOnly) {
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkdir(QStringLiteral("skin")));
    const QString skin = root.filePath(QStringLiteral("skin"));
    WriteFile(skin + QStringLiteral("/corner.rgn"), "R0,0,10,10");
    WriteFile(root.filePath(QStringLiteral("outside.rgn")), "R0,0,10,10");
    QString error;
    const auto cut = shell::RegionFromText(QStringLiteral("R0,0,W,H\r\nD\r\nT corner,W-10,0"),
                                           {100, 50}, &error, skin);
    ASSERT_TRUE(cut) << error.toStdString();
    EXPECT_FALSE(cut->contains(QPoint(95, 5)));
    EXPECT_TRUE(cut->contains(QPoint(85, 5)));
    EXPECT_TRUE(cut->contains(QPoint(95, 15)));
    // A region beside the skin, or one the skin lacks, is not there.
    for (const char* text : {"T ../outside,0,0", "T outside,0,0", "T corner.rgn,0,0"}) {
        EXPECT_FALSE(shell::RegionFromText(QLatin1String(text), {100, 50}, &error, skin)) << text;
        EXPECT_FALSE(error.isEmpty());
    }
}

// A window like the batch window: a layout filling it.
struct Window {
    QWidget widget;
    Window() {
        widget.setObjectName(QStringLiteral("fmRename"));
        auto* layout = new QVBoxLayout(&widget);
        layout->addWidget(new QWidget(&widget));
        widget.resize(400, 300);
    }
};

TEST(SkinWindow, ShippedSkinsDressEveryKindOfWindow) {
    using K = shell::SkinFrame::Kind;
    for (const char* skin : {"Windows XP blue", "Graphite"}) {
        for (K kind : {K::Main, K::Batch, K::About, K::Options}) {
            SCOPED_TRACE(std::string(skin) + " " + std::to_string(static_cast<int>(kind)));
            Window w;
            shell::SkinFrame frame(&w.widget, kind);
            QString error;
            ASSERT_TRUE(frame.Load(kSkins + QLatin1Char('/') + QLatin1String(skin), &error))
                << error.toStdString();
            EXPECT_TRUE(w.widget.windowFlags().testFlag(Qt::FramelessWindowHint));
            // Rounded corners: the outline leaves out the very corner.
            EXPECT_FALSE(frame.outline().contains(QPoint(0, 0)));
            EXPECT_TRUE(frame.outline().contains(QPoint(200, 150)));
            EXPECT_EQ(w.widget.mask(), frame.outline());
            EXPECT_EQ(frame.closeButton()->pos(), QPoint(360, 5));
            EXPECT_FALSE(frame.closeButton()->shown().isNull());
            EXPECT_EQ(frame.minimizeButton() != nullptr, kind == K::Main);
            if (kind == K::Main || kind == K::Batch) {
                // The pieces painted the title strip, not the plain fill.
                const QImage shot = w.widget.grab().toImage();
                EXPECT_NE(QColor(shot.pixel(200, 3)), w.widget.palette().window().color());
                ASSERT_NE(frame.grip(), nullptr);
                EXPECT_EQ(frame.grip()->geometry().bottomRight(), QPoint(399, 299));
            }
            frame.Clear();
            EXPECT_FALSE(w.widget.windowFlags().testFlag(Qt::FramelessWindowHint));
            EXPECT_TRUE(w.widget.mask().isEmpty());
            EXPECT_FALSE(frame.closeButton()->isVisible());
        }
    }
}

TEST(SkinWindow, DragRegionsLeaveTheButtonsOut) {
    using K = shell::SkinFrame::Kind;
    QString error;
    Window main;
    main.widget.resize(430, 300);
    shell::SkinFrame mainFrame(&main.widget, K::Main);
    ASSERT_TRUE(mainFrame.Load(kSkins + QStringLiteral("/Windows XP blue"), &error));
    // The minimise button sits at 430 - 62 = 368: strips 0..84 and 135..363.
    EXPECT_EQ(mainFrame.minimizeButton()->x(), 368);
    const QRegion drag = mainFrame.dragRegion();
    for (const auto& [point, inside] : {std::pair{QPoint(10, 10), true},
                                        {QPoint(100, 10), false},
                                        {QPoint(200, 39), true},
                                        {QPoint(200, 40), false},
                                        {QPoint(363, 10), false},
                                        {QPoint(362, 10), true}})
        EXPECT_EQ(drag.contains(point), inside) << point.x() << "," << point.y();

    Window batch;
    batch.widget.show();
    shell::SkinFrame batchFrame(&batch.widget, K::Batch);
    ASSERT_TRUE(batchFrame.Load(kSkins + QStringLiteral("/Graphite"), &error));
    EXPECT_EQ(batchFrame.dragRegion(), QRegion(0, 0, 355, 35));
    // A resize moves the buttons and the strips along.
    batch.widget.resize(500, 300);
    QApplication::processEvents();
    EXPECT_EQ(batchFrame.closeButton()->x(), 460);
    EXPECT_EQ(batchFrame.dragRegion(), QRegion(0, 0, 455, 35));
}

TEST(SkinWindow, ASkinWithoutAValidRegionFileFailsAndSaysWhy) {
    struct Case {
        const char* what;
        const char* region;  // nullptr: no file
        const char* expect;
    };
    for (const Case& c :
         {Case{"missing", nullptr, "main_form.rgn"}, Case{"syntax", "R0,0,W,H\r\nQ5", "line 2"}}) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        if (c.region)
            WriteFile(dir.filePath("main_form.rgn"), c.region);
        Window w;
        shell::SkinFrame frame(&w.widget, shell::SkinFrame::Kind::Main);
        QString error;
        EXPECT_FALSE(frame.Load(dir.path(), &error));
        EXPECT_TRUE(error.contains(QLatin1String(c.expect))) << error.toStdString();
        EXPECT_FALSE(frame.skinned());
        EXPECT_FALSE(w.widget.windowFlags().testFlag(Qt::FramelessWindowHint));
    }
}

TEST(SkinWindow, ButtonsShowTheirThreeStates) {
    QPixmap normal(4, 4), pressed(5, 5), hover(6, 6);
    shell::SkinButton button;
    button.setPictures(normal, pressed, hover);
    EXPECT_EQ(button.shown().width(), 4);
    button.setDown(true);
    EXPECT_EQ(button.shown().width(), 5);
    button.setDown(false);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(button.shown().width(), 6);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(button.shown().width(), 4);
}

}  // namespace
