// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSplashScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include "editor/format_registry.h"
#include "media/http_worker.h"
#include "media/lyrics_window.h"
#include "media/pictures_window.h"
#include "net/curl_http_client.h"
#include "net/lyrics_sites.h"
#include "shell/about_window.h"
#include "shell/batch_lookup_tabs.h"
#include "shell/batch_window.h"
#include "shell/colors_page.h"
#include "shell/command_line.h"
#include "shell/data_folders.h"
#include "shell/file_list.h"
#include "shell/info_window.h"
#include "shell/language_apply.h"
#include "shell/main_window.h"
#include "shell/media_link.h"
#include "shell/options_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"
#include "shell/skin_window.h"
#include "shell/window_glue_host.h"
#include "shell/window_rules.h"
#include "tags/file_io.h"
#include "util/version.h"

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
    p.drawText(QRect(0, 150, 400, 30), Qt::AlignCenter,
               QStringLiteral("Version ") + QString::fromUtf8(sondrel::Version()));
    p.drawText(QRect(0, 230, 400, 30), Qt::AlignCenter, QStringLiteral("Loading..."));
    return pm;
}

// For the screenshots: a copy of `mp3` with lyrics and a picture, in `dir`.
QString SampleWithLyricsAndPicture(const QString& mp3, const QTemporaryDir& dir) {
    const QString copy = dir.filePath(QStringLiteral("Sample Song.mp3"));
    const QString cover = dir.filePath(QStringLiteral("Front Cover.png"));
    if (!QFile::copy(mp3, copy))
        return {};
    QImage picture(300, 300, QImage::Format_RGB32);
    picture.fill(QColor(0x2b, 0x4f, 0x81));
    QPainter p(&picture);
    p.setPen(Qt::white);
    p.setFont(QFont(QStringLiteral("Sans"), 28, QFont::Bold));
    p.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("Morning\nTune"));
    p.end();
    picture.save(cover);
    sondrel::TagBridge bridge;
    bridge.Read(copy.toStdString());
    sondrel::TagFields hub = bridge.Hub();
    hub.text =
        "The sun climbs over the hill\nAnd the kettle starts to sing\n\n"
        "Morning tune, morning tune\nHum it till the day begins";
    bridge.setHub(hub);
    const sondrel::FormatHandler& mp3Format = sondrel::Mp3Format();
    mp3Format.Save(bridge);
    std::string warning;
    mp3Format.LoadPictures(bridge, copy.toStdString());
    mp3Format.AddPicture(bridge, 0, cover.toStdString(), "Front Cover", 3, warning);
    QFile::remove(cover);
    return copy;
}

constexpr char kUsage[] =
    "Usage: sondrel [FOLDER | -f FILE]\n"
    "       sondrel --version | --help | --data-files\n"
    "\n"
    "Opens the tag editor on FOLDER, or on the folder of FILE with FILE\n"
    "selected. See sondrel(1).\n"
    "\n"
    "  -V, --version   show the version and exit\n"
    "  -h, --help      show this help and exit\n"
    "  --data-files    start, print where the language files, skins, help\n"
    "                  pages and the lyrics site list were looked for and\n"
    "                  found, and exit (1 when one is missing)\n";

// What --data-files prints: the folders in search order and what each kind
// of data file was found as. False when a kind is missing.
bool PrintDataFiles(const QStringList& folders, const QStringList& languages,
                    const QStringList& skins) {
    QTextStream out(stdout);
    out << "Data folders, first match wins:\n";
    for (const QString& folder : folders)
        out << "  " << folder << (QFileInfo(folder).isDir() ? "" : "  (missing)") << "\n";
    out << "Languages: " << languages.join(QStringLiteral(", ")) << "\n";
    // "System" (the desktop's own look) is always offered; the rest are files.
    out << "Skins: " << skins.join(QStringLiteral(", ")) << "\n";
    bool complete = !languages.isEmpty() && skins.size() > 1;
    for (const QString& name : {QStringLiteral("English.html"), QStringLiteral("sites.dat")}) {
        const QString found = shell::FindDataFile(folders, name);
        out << name << ": " << (found.isEmpty() ? QStringLiteral("not found") : found) << "\n";
        complete = complete && !found.isEmpty();
    }
    return complete;
}

}  // namespace

int main(int argc, char** argv) {
    // The questions answered without a window (or a display).
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version" || arg == "-V") {
            std::printf("sondrel %s\n", std::string(sondrel::Version()).c_str());
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    const bool printDataFiles = std::any_of(
        argv + 1, argv + argc, [](const char* a) { return a == std::string_view("--data-files"); });
    // A full file-size limit fails the write instead of killing a save midway.
    sondrel::PrepareProcessForSaves(false);
    QApplication app(argc, argv);
    QSplashScreen splash(SplashPicture());
    splash.show();
    QApplication::processEvents();

    QApplication::setApplicationName(QStringLiteral("Sondrel"));
    QApplication::setApplicationVersion(QString::fromUtf8(sondrel::Version()));
    QGuiApplication::setDesktopFileName(QStringLiteral(SONDREL_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(SONDREL_APP_ID)));
    QApplication::setQuitOnLastWindowClosed(false);

    SettingsStore store;
    QStringList arguments = QApplication::arguments();
    arguments.removeAll(QStringLiteral("--data-files"));
    const StartupArgs args = ParseStartupArgs(arguments);
    // Languages, skins, help pages and the lyrics site list: the user's own
    // first, then the installed ones.
    const QStringList dataFolders = shell::ProgramDataFolders();

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
    MediaLink media(main.fileList(), main.tagEditor(), &wait, &store);
    // Downloads run on a worker thread; the proxy is the options window's.
    sondrel::net::CurlHttpClient http;
    HttpWorker downloads(http);
    auto applyProxy = [&http, &options] {
        sondrel::net::ProxySettings proxy;
        if (options.UseProxy()) {
            proxy.host = options.ProxyServer().trimmed().toStdString();
            bool ok = false;
            const long port = options.ProxyPort().toLong(&ok);
            proxy.port = ok ? port : http.Proxy().port;
            proxy.user = options.ProxyUser().toStdString();
            proxy.password = options.ProxyPassword().toStdString();
        }
        http.SetProxy(std::move(proxy));
    };
    LyricsWindow lyrics(&media, &downloads, &main);
    const QString sites = shell::FindDataFile(dataFolders, QStringLiteral("sites.dat"));
    if (sites.isEmpty())
        qWarning().noquote() << shell::NotFoundText(QStringLiteral("sites.dat"), dataFolders);
    else
        lyrics.setSites(sondrel::net::LoadSites(QFile::encodeName(sites).toStdString()));
    PicturesWindow pictures(&media, &downloads, &main);
    main.setMediaWindows(&lyrics, &pictures);
    auto* colors = new shell::ColorsPage(store, dataFolders, &options);
    colors->setUserFolder(shell::UserDataFolder());
    options.pages()->addTab(colors, QObject::tr("Colors"));
    colors->tell = [&main](const QString& text) {
        QMessageBox::critical(&main, QStringLiteral("Sondrel"), text);
    };
    const auto applyColors = [&, colors] {
        for (QWidget* w : std::initializer_list<QWidget*>{&main, &about, &wait, &info, &options,
                                                          &lyrics, &pictures, main.batchWindow()}) {
            if (colors->skin() == QLatin1String(shell::kSystemSkin))
                shell::ApplySystemColors(w);
            else
                shell::ApplySchemeColors(w, colors->colors());
        }
    };
    // The windows without the desktop's frame while a skin other than
    // "System" is in force.
    shell::SkinFrame mainFrame(&main, shell::SkinFrame::Kind::Main);
    shell::SkinFrame batchFrame(main.batchWindow(), shell::SkinFrame::Kind::Batch);
    shell::SkinFrame aboutFrame(&about, shell::SkinFrame::Kind::About);
    shell::SkinFrame optionsFrame(&options, shell::SkinFrame::Kind::Options);
    const std::vector<shell::SkinFrame*> frames{&mainFrame, &batchFrame, &aboutFrame,
                                                &optionsFrame};
    const auto loadSkin = [&, colors](const QString& name) {
        const QString folder = shell::SkinFolder(dataFolders, name);
        // Where windows cannot be shaped the desktop's frames stay ("System").
        if (folder.isEmpty() || !shell::PlatformCanShapeWindows()) {
            for (shell::SkinFrame* f : frames)
                f->Clear();
        } else {
            main.hide();
            QString error;
            if (!shell::LoadSkinInto(frames, folder, &error))
                QMessageBox::critical(
                    &main, QStringLiteral("Sondrel"),
                    shell::Message(sondrel::msg::kCannotLoadSkin) + QStringLiteral("\n\n") + error);
            if (main.FirstShown())
                main.show();
        }
        for (shell::SkinFrame* f : frames)
            f->setFill(shell::ToQColor(colors->colors()[0]));
    };
    colors->skinChosen = [&, applyColors, loadSkin](const QString& name) {
        loadSkin(name);
        applyColors();
        options.raise();
    };
    QObject::connect(options.btnOK(), &QPushButton::clicked, colors,
                     &shell::ColorsPage::SaveSettings);
    options.processSettings = [&main, &frames, colors, applyColors, &applyProxy] {
        main.ProcessSettings();
        applyProxy();
        applyColors();
        for (shell::SkinFrame* f : frames)
            f->setFill(shell::ToQColor(colors->colors()[0]));
    };

    QApplication::processEvents();
    options.LoadSettings();
    colors->LoadSettings();
    loadSkin(colors->skin());
    main.ProcessSettings();
    applyProxy();
    applyColors();

    shell::LanguageApplier language(dataFolders);
    for (QWidget* w :
         std::initializer_list<QWidget*>{&main, &about, &wait, &info, &options, &lyrics, &pictures})
        language.Attach(w);
    language.AttachWindowsAsShown();
    const auto setLanguage = [&](const QString& name) {
        QString error;
        if (language.SetLanguage(name, &error)) {
            main.setLanguage(QString(name).remove(QLatin1Char('&')));
        } else {
            QMessageBox::critical(
                &main, QStringLiteral("Sondrel"),
                shell::Message(sondrel::msg::kCannotSetLanguage) + QStringLiteral("\n\n") + error);
        }
        return main.language();
    };
    if (main.language().compare(QStringLiteral("English"), Qt::CaseInsensitive) != 0)
        setLanguage(main.language());
    if (auto* menu = main.mainMenu()->findChild<QMenu*>(QStringLiteral("mnLanguage")))
        shell::LanguageApplier::FillMenu(menu, shell::LanguageNames(language.folders()),
                                         main.language(), setLanguage);
    if (printDataFiles)
        return PrintDataFiles(dataFolders, shell::LanguageNames(dataFolders),
                              shell::SkinNames(dataFolders))
                   ? 0
                   : 1;

    // Gluing: where the window system places windows itself (Wayland), the
    // program cannot move them, so they are left to it.
    shell::WindowGlueHost glue;
    if (QGuiApplication::platformName() != QLatin1String("wayland")) {
        glue.Add(&main, true);
        for (QWidget* w : std::initializer_list<QWidget*>{&about, &wait, &info, &options, &lyrics,
                                                          &pictures, main.batchWindow()})
            glue.Add(w);
        glue.options = [&options] {
            return sondrel::GlueOptions{options.SnapWindows(), options.MoveWindows(), true};
        };
    }

    splash.finish(&main);
    main.show();
    if (args.chooseFolder) {
        if (auto* browse = main.fileList()->findChild<QToolButton*>(QStringLiteral("btnBrowse")))
            QTimer::singleShot(0, browse, &QToolButton::click);
    }
    // The companions whose switches were left on come up with the main window.
    if (main.action(QStringLiteral("actShowLyrics"))->isChecked()) {
        lyrics.ShowLyrics();
        lyrics.show();
    }
    if (main.action(QStringLiteral("actShowPictures"))->isChecked()) {
        pictures.show();
        pictures.ShowPicture();
    }

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
            // The lyrics and pictures windows with a file that has both.
            QTemporaryDir sampleDir;
            const QStringList mp3s =
                QDir(main.currentFolder()).entryList({QStringLiteral("*.mp3")}, QDir::Files);
            if (sampleDir.isValid() && !mp3s.isEmpty()) {
                const QString sample = SampleWithLyricsAndPicture(
                    QDir(main.currentFolder()).filePath(mp3s.front()), sampleDir);
                if (!sample.isEmpty()) {
                    main.openFolder(sampleDir.path());
                    QApplication::processEvents();
                    media.ShowFile(sample.toStdString());
                }
            }
            lyrics.ShowLyrics();
            lyrics.show();
            lyrics.resize(320, 420);
            lyrics.grab().save(shots + QStringLiteral("/lyrics.png"));
            pictures.show();
            pictures.resize(260, 320);
            pictures.ShowPicture();
            pictures.grab().save(shots + QStringLiteral("/pictures.png"));
            about.show();
            about.grab().save(shots + QStringLiteral("/about.png"));
            about.hide();
            // The batch window over every file of the shown folder, one shot per tab.
            main.fileList()->actSelectAll();
            for (int page = 0; page < BatchWindow::kPageCount; ++page) {
                main.OpenBatchWindow(page);
                // A window shown for the first time without a frame settles
                // in more than one round of events.
                for (int round = 0; round < 5; ++round) {
                    QApplication::processEvents(QEventLoop::AllEvents, 20);
                    QThread::msleep(10);
                }
                main.batchWindow()->grab().save(shots +
                                                QStringLiteral("/batch-%1.png").arg(page + 1));
            }
            // The MusicBrainz tab under its own name; with SONDREL_SCREENSHOTS_SEARCH
            // set (a local stand-in as the host in the options) also after a search.
            main.OpenBatchWindow(BatchWindow::kPageMusicBrainz);
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            main.batchWindow()->grab().save(shots + QStringLiteral("/batch-musicbrainz.png"));
            if (qEnvironmentVariableIsSet("SONDREL_SCREENSHOTS_SEARCH")) {
                main.batchWindow()->lookups()->SearchMusicBrainz();
                main.batchWindow()->grab().save(shots +
                                                QStringLiteral("/batch-musicbrainz-filled.png"));
            }
            main.batchWindow()->close();
            // The main window in every shipped language and skin.
            const QString inForce = main.language();
            for (const QString& name : shell::LanguageNames(dataFolders)) {
                setLanguage(name);
                QApplication::processEvents();
                main.grab().save(shots + QStringLiteral("/main-%1.png").arg(name));
            }
            setLanguage(inForce);
            const QString skin = colors->skin();
            for (const QString& name : shell::SkinNames(dataFolders)) {
                colors->ChooseSkin(name);
                QApplication::processEvents();
                main.grab().save(shots + QStringLiteral("/main-%1.png").arg(name));
            }
            colors->ChooseSkin(skin);
            QApplication::quit();
        });
    }
    const int rc = QApplication::exec();
    downloads.StopAll();
    info.SaveGeometry(store);
    return rc;
}
