#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTimer>

#include "shell/command_line.h"
#include "shell/main_window.h"

namespace {

TEST(MainWindow, StartsShowsTitleAndQuits) {
    Tfm window;
    window.show();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Sondrel"));
    EXPECT_TRUE(window.isVisible());
    QTimer::singleShot(0, &window, &QWidget::close);
    QTimer::singleShot(10, qApp, &QApplication::quit);
    QApplication::exec();
    EXPECT_FALSE(window.isVisible());
}

TEST(CommandLine, FolderFileOrNothing) {
    const QString cwd = QDir::currentPath();
    struct Case {
        QStringList args;
        QString folder;
        QString file;
    };
    const Case cases[] = {
        {{"sondrel"}, "", ""},
        {{"sondrel", "/music/album"}, "/music/album", ""},
        {{"sondrel", "-f", "/music/album/01.mp3"}, "/music/album", "/music/album/01.mp3"},
        {{"sondrel", "rel"}, cwd + "/rel", ""},
        {{"sondrel", "-f"}, "", ""},  // "-f" without a file is ignored
    };
    for (const Case& c : cases) {
        const StartupArgs a = ParseStartupArgs(c.args);
        EXPECT_EQ(a.folder, c.folder) << c.args.join(' ').toStdString();
        EXPECT_EQ(a.file, c.file) << c.args.join(' ').toStdString();
    }
}

}  // namespace
