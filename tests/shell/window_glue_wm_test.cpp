// SPDX-License-Identifier: GPL-3.0-or-later
// Gluing under a real window manager: the test starts a virtual X server and
// openbox, then runs this same program on that display as the probe, where
// windows get frames from the window manager and are moved through it
// (xdotool), so every move comes back asynchronously as a real one does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <functional>

#include "shell/window_glue_host.h"

namespace {

constexpr const char* kProbe = "SONDREL_GLUE_PROBE";

// Runs `until` with events flowing until it holds or `ms` have passed.
bool WaitFor(const std::function<bool()>& until, int ms = 3000) {
    for (int waited = 0; waited < ms; waited += 20) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        if (until())
            return true;
        QThread::msleep(20);
    }
    return until();
}

// The user drags `w` through the window manager so that its frame lands at
// `frame`: xdotool places the client area, the frame's margins are the window
// manager's decoration.
void Drag(QWidget& w, QPoint frame) {
    const QRect before = w.frameGeometry();
    const QPoint to = frame + (w.geometry().topLeft() - before.topLeft());
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("windowmove"), QString::number(w.winId()),
                       QString::number(to.x()), QString::number(to.y())});
    WaitFor([&] { return w.frameGeometry() != before; }, 1500);
    WaitFor([] { return false; }, 300);  // the gluing's own moves come back
}

TEST(WindowGlueWm, Probe) {
    if (qEnvironmentVariableIsEmpty(kProbe))
        GTEST_SKIP() << "runs only as the child of DragsSnapAndGlueUnderAWindowManager";
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QWidget main, lyrics;
    main.setWindowTitle(QStringLiteral("main"));
    lyrics.setWindowTitle(QStringLiteral("lyrics"));
    main.setGeometry(200, 200, 300, 200);
    lyrics.setGeometry(800, 500, 200, 150);
    main.show();
    lyrics.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&lyrics));
    WaitFor([] { return false; }, 300);
    shell::WindowGlueHost glue;
    glue.Add(&main, true);
    glue.Add(&lyrics);
    glue.options = [] { return sondrel::GlueOptions{}; };
    const QRect screen = main.screen()->availableGeometry();

    // Dropped 4 pixels right of the main window: flush against it, glued.
    const QRect m = main.frameGeometry();
    Drag(lyrics, {m.right() + 1 + 4, m.top() + 30});
    EXPECT_EQ(lyrics.frameGeometry().left(), m.right() + 1);
    EXPECT_EQ(glue.AnchorOf(&lyrics), &main);

    // The main window moved by the user brings the glued window along.
    const QPoint gap = lyrics.frameGeometry().topLeft() - main.frameGeometry().topLeft();
    Drag(main, m.topLeft() + QPoint(60, 40));
    EXPECT_EQ(main.frameGeometry().topLeft(), m.topLeft() + QPoint(60, 40));
    EXPECT_TRUE(WaitFor([&] {
        return lyrics.frameGeometry().topLeft() - main.frameGeometry().topLeft() == gap;
    })) << "the lyrics window stayed at "
        << lyrics.frameGeometry().left() << "," << lyrics.frameGeometry().top();

    // Dragged away it is unglued; 3 pixels short of the screen's right edge
    // it snaps to the edge.
    Drag(lyrics, {screen.right() - lyrics.frameGeometry().width() - 2, screen.top() + 300});
    EXPECT_EQ(lyrics.frameGeometry().right(), screen.right());
    EXPECT_EQ(glue.AnchorOf(&lyrics), nullptr);
}

// Starts `program` and gives it `ms` to be running; nullptr when it could not.
std::unique_ptr<QProcess> Start(const QString& program, const QStringList& args,
                                const QProcessEnvironment& env = {}) {
    auto p = std::make_unique<QProcess>();
    if (!env.isEmpty())
        p->setProcessEnvironment(env);
    p->start(program, args);
    if (!p->waitForStarted(5000))
        return nullptr;
    return p;
}

void Stop(QProcess* p) {
    if (p && p->state() != QProcess::NotRunning) {
        p->terminate();
        if (!p->waitForFinished(3000))
            p->kill();
        p->waitForFinished(3000);
    }
}

TEST(WindowGlueWm, DragsSnapAndGlueUnderAWindowManager) {
    if (!qEnvironmentVariableIsEmpty(kProbe))
        GTEST_SKIP() << "this is the probe";
    for (const char* tool : {"Xvfb", "openbox", "xdotool"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed (scripts/setup.sh installs it)";

    // Xvfb picks a free display and tells its number on the descriptor given.
    auto xvfb = Start(QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                       QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!xvfb)
        GTEST_SKIP() << "the virtual X server does not start here";
    QByteArray number;
    for (int waited = 0; waited < 10000 && !number.contains('\n'); waited += 100) {
        xvfb->waitForReadyRead(100);
        number += xvfb->readAllStandardOutput();
        if (xvfb->state() == QProcess::NotRunning)
            break;
    }
    if (!number.contains('\n')) {
        Stop(xvfb.get());
        GTEST_SKIP() << "the virtual X server did not start: "
                     << xvfb->readAllStandardError().toStdString();
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(number.trimmed()));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    auto wm = Start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")}, env);
    if (!wm) {
        Stop(xvfb.get());
        GTEST_SKIP() << "openbox does not start here";
    }
    QThread::msleep(1000);  // the window manager takes the screen
    if (wm->state() == QProcess::NotRunning) {
        Stop(xvfb.get());
        GTEST_SKIP() << "openbox ended at once: " << wm->readAllStandardError().toStdString();
    }

    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QLatin1String(kProbe), QStringLiteral("1"));
    // The desktop platform's D-Bus connection lives until the process ends;
    // the leak checker would count it against the probe.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    QProcess probe;
    probe.setProcessEnvironment(env);
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=WindowGlueWm.Probe")});
    const bool finished = probe.waitForFinished(60000);
    const QByteArray output = probe.readAll();
    Stop(&probe);
    Stop(wm.get());
    Stop(xvfb.get());
    ASSERT_TRUE(finished) << output.toStdString();
    EXPECT_EQ(probe.exitCode(), 0) << output.toStdString();
    // The probe ran its checks rather than skipping them.
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    EXPECT_FALSE(output.contains("SKIPPED")) << output.toStdString();
}

}  // namespace
