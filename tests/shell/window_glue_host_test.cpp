// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/window_glue_host.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

namespace {

// A main window and two others on a 1000 x 800 work area at (0, 0).
struct Desk {
    QWidget main, lyrics, info;
    shell::WindowGlueHost glue;
    sondrel::GlueOptions opts;
    Desk() {
        for (QWidget* w : {&main, &lyrics, &info})
            w->setWindowFlag(Qt::FramelessWindowHint);
        main.setGeometry(100, 100, 300, 200);
        lyrics.setGeometry(600, 100, 200, 200);
        info.setGeometry(600, 500, 200, 100);
        for (QWidget* w : {&main, &lyrics, &info})
            w->show();
        QApplication::processEvents();
        glue.Add(&main, true);
        glue.Add(&lyrics);
        glue.Add(&info);
        glue.options = [this] { return opts; };
        glue.workArea = [](QWidget*) { return QRect(0, 0, 1000, 800); };
    }
    void UserMoves(QWidget& w, int x, int y) {
        w.move(x, y);
        QApplication::processEvents();
    }
};

TEST(WindowGlueHost, SnapsGluesAndFollowsTheMainWindow) {
    struct Case {
        const char* what;
        bool snap;
        int lyricsX;   // where the user drops the lyrics window
        int snappedX;  // where it ends
        bool glued;
    };
    const Case cases[] = {
        {"within 5 pixels snaps against the main window", true, 404, 400, true},
        {"6 pixels away stays", true, 406, 406, false},
        {"snapping off: exact contact still glues", false, 400, 400, true},
        {"snapping off: one pixel apart does not", false, 401, 401, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Desk d;
        d.opts.snapWindows = c.snap;
        d.UserMoves(d.lyrics, c.lyricsX, 150);
        EXPECT_EQ(d.lyrics.frameGeometry().left(), c.snappedX);
        EXPECT_EQ(d.glue.AnchorOf(&d.lyrics) == &d.main, c.glued);
        d.UserMoves(d.main, 150, 120);
        if (c.glued)
            EXPECT_EQ(d.lyrics.frameGeometry().topLeft(), QPoint(450, 170));
        else
            EXPECT_EQ(d.lyrics.frameGeometry().topLeft(), QPoint(c.snappedX, 150));
        // Unglued and "Move windows with main" off: the information window stays.
        EXPECT_EQ(d.info.frameGeometry().topLeft(), QPoint(600, 500));
    }
}

TEST(WindowGlueHost, MoveWithMainBringsEveryWindowAndDraggingAwayUnglues) {
    Desk d;
    d.opts.moveWithMain = true;
    d.UserMoves(d.main, 130, 110);
    EXPECT_EQ(d.lyrics.frameGeometry().topLeft(), QPoint(630, 110));
    EXPECT_EQ(d.info.frameGeometry().topLeft(), QPoint(630, 510));

    d.opts.moveWithMain = false;
    d.UserMoves(d.info, 632, 312);  // under the lyrics window (bottom 310)
    EXPECT_EQ(d.info.frameGeometry().topLeft(), QPoint(630, 310));
    EXPECT_EQ(d.glue.AnchorOf(&d.info), &d.lyrics);
    d.UserMoves(d.info, 700, 400);
    EXPECT_EQ(d.glue.AnchorOf(&d.info), nullptr);
    // The work area's edge: within 5 pixels of the right edge snaps to it.
    d.UserMoves(d.info, 797, 400);
    EXPECT_EQ(d.info.frameGeometry().right() + 1, 1000);
}

TEST(WindowGlueHost, AnEdgeDraggedNearAnotherOrTheWorkAreaMeetsIt) {
    struct Case {
        const char* what;
        QRect dragged;  // the information window's frame after the user's drag
        QRect wanted;
    };
    const Case cases[] = {
        // The lyrics window's bottom is at 300; the work area ends at 1000 x 800.
        {"top edge up to 3 below the lyrics window", {600, 303, 200, 297}, {600, 300, 200, 300}},
        {"right edge to 4 short of the work area", {600, 500, 396, 100}, {600, 500, 400, 100}},
        {"bottom edge to 2 short of the work area", {600, 500, 200, 298}, {600, 500, 200, 300}},
        {"7 pixels short stays", {600, 500, 393, 100}, {600, 500, 393, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Desk d;
        d.info.setGeometry(c.dragged);
        QApplication::processEvents();
        EXPECT_EQ(d.info.frameGeometry(), c.wanted);
    }
}

}  // namespace
