#include <QApplication>

#include "shell/command_line.h"
#include "shell/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    QApplication::setApplicationVersion(QStringLiteral(SONDREL_VERSION));

    const StartupArgs args = ParseStartupArgs(QApplication::arguments());
    Tfm window;
    if (!args.folder.isEmpty())
        window.openFolder(args.folder);
    window.show();
    return QApplication::exec();
}
