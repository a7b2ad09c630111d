#include <QApplication>
#include <QFileInfo>
#include <QPainter>
#include <QScreen>
#include <QSplashScreen>
#include <QTabWidget>
#include <QTimer>

#include "shell/about_window.h"
#include "shell/batch_window.h"
#include "shell/command_line.h"
#include "shell/file_list.h"
#include "shell/info_window.h"
#include "shell/main_window.h"
#include "shell/options_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"
#include "shell/window_rules.h"
#include "tags/file_io.h"

namespace {

QPixmap SplashPicture() {
    QPixmap pm(400, 300);
    pm.fill(QColor(0x2b, 0x4f, 0x81));
    QPainter p(&pm);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(36);
    p.setFont(f);
    p.drawText(QRect(0, 60, 400, 60), Qt::AlignCenter, QStringLiteral("Sondrel"));
    f.setPixelSize(16);
    p.setFont(f);
    p.drawText(QRect(0, 150, 400, 30), Qt::AlignCenter, QStringLiteral("Version 4.6"));
    p.drawText(QRect(0, 230, 400, 30), Qt::AlignCenter, QStringLiteral("Loading..."));
    return pm;
}

}  // namespace

int main(int argc, char** argv) {
    // A full file-size limit fails the write instead of killing a save midway.
    sondrel::PrepareProcessForSaves(false);
    QApplication app(argc, argv);
    QSplashScreen splash(SplashPicture());
    splash.show();
    QApplication::processEvents();

    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    QApplication::setApplicationVersion(QStringLiteral(SONDREL_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    SettingsStore store;
    const StartupArgs args = ParseStartupArgs(QApplication::arguments());

    // Windows in their fixed order; each reads its own settings as it is created.
    MainWindow main(store);
    if (!args.folder.isEmpty())
        main.openFolder(args.folder);
    if (!args.file.isEmpty())
        main.setStartFile(QFileInfo(args.file).fileName());
    AboutWindow about(&main);
    ProgressWindow wait(&main);
    InfoWindow info(&main);
    info.LoadGeometry(store);
    {
        // The stored place is the frame's, and its title bar must be on a
        // screen of this run.
        QList<QRect> screens;
        for (const QScreen* screen : QGuiApplication::screens())
            screens << screen->availableGeometry();
        info.move(
            shell::KeepTitleBarOnScreen(QRect(info.geometry().topLeft(), info.size()), screens));
    }
    OptionsWindow options(store, &main);
    main.setCompanions(&wait, &info, &options, &about);
    options.processSettings = [&main] { main.ProcessSettings(); };

    QApplication::processEvents();
    options.LoadSettings();
    main.ProcessSettings();

    splash.finish(&main);
    main.show();

    // Developer aid: SONDREL_SCREENSHOTS=<folder> saves each window as PNG and quits.
    const QString shots = qEnvironmentVariable("SONDREL_SCREENSHOTS");
    if (!shots.isEmpty()) {
        QTimer::singleShot(300, &main, [&] {
            main.grab().save(shots + QStringLiteral("/main.png"));
            info.show();
            info.grab().save(shots + QStringLiteral("/info.png"));
            for (int page = 0; page < options.pages()->count(); ++page) {
                options.pages()->setCurrentIndex(page);
                options.show();
                options.grab().save(shots + QStringLiteral("/options%1.png").arg(page));
            }
            options.hide();
            wait.Start(4);
            wait.Step();
            wait.grab().save(shots + QStringLiteral("/progress.png"));
            wait.Finish();
            about.show();
            about.grab().save(shots + QStringLiteral("/about.png"));
            about.hide();
            // The batch window over every file of the shown folder, one shot per tab.
            main.fileList()->actSelectAll();
            for (int page = 0; page < BatchWindow::kPageCount; ++page) {
                main.OpenBatchWindow(page);
                QApplication::processEvents();
                main.batchWindow()->grab().save(shots +
                                                QStringLiteral("/batch-%1.png").arg(page + 1));
            }
            main.batchWindow()->close();
            QApplication::quit();
        });
    }
    const int rc = QApplication::exec();
    info.SaveGeometry(store);
    return rc;
}
