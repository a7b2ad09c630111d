// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/main_window.h"

#include <array>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QStatusTipEvent>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "media/lyrics_window.h"
#include "media/pictures_window.h"
#include "shell/associations.h"
#include "shell/batch_window.h"
#include "shell/data_folders.h"
#include "shell/file_list.h"
#include "shell/info_window.h"
#include "shell/language_apply.h"
#include "shell/options_window.h"
#include "shell/progress_window.h"
#include "shell/settings_store.h"
#include "shell/tag_editor.h"
#include "shell/window_rules.h"

namespace {

constexpr int kMaxRemembered = 10;
const char* const kFormatSwitches[] = {"flMP3", "flOGG", "flWMA", "flAPE",
                                       "flMP4", "flMPC", "flFLAC"};
const char* const kFormatCaptions[] = {"&MP3",
                                       "Ogg Vorbis/Opus/FLAC (&OGG)",
                                       "Windows Media Audio (&WMA)",
                                       "Monkey's Audio (&APE)",
                                       "MP4/M&4a/AAC",
                                       "Musepack (MP&C)",
                                       "&FLAC"};

// Stored colours are 0x00BBGGRR values.
QColor FromStoredColor(int value) {
    return QColor(value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff);
}

QList<QRect> ScreenRects() {
    QList<QRect> rects;
    for (const QScreen* screen : QGuiApplication::screens())
        rects << screen->availableGeometry();
    return rects;
}

QSize ScreenSize(const QWidget* w) {
    const QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().size() : QSize(1024, 768);
}

// A plain round icon for the tray; the animation shifts its shade.
QIcon TrayIconFrame(int frame) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor::fromHsv((210 + frame * 30) % 360, 160, 200));
    p.setPen(Qt::NoPen);
    p.drawEllipse(2, 2, 28, 28);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(18);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("S"));
    return QIcon(pm);
}

}  // namespace

MainWindow::MainWindow(SettingsStore& store, QWidget* parent) : QMainWindow(parent), store_(store) {
    setObjectName(QStringLiteral("fm"));
    setWindowTitle(QStringLiteral("Sondrel"));
    setWindowIcon(TrayIconFrame(0));
    openExternal = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    BuildActions();
    BuildContent();
    BuildMenu();
    BuildFileCommands();

    tray_ = new QSystemTrayIcon(TrayIconFrame(0), this);
    tray_->setToolTip(QStringLiteral("Sondrel"));
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason) { RestoreFromTray(minimizedByButton_); });
    trayAnimation_ = new QTimer(this);
    trayAnimation_->setInterval(300);
    connect(trayAnimation_, &QTimer::timeout, this, [this] {
        trayFrame_ = (trayFrame_ + 1) % 8;
        tray_->setIcon(TrayIconFrame(trayFrame_));
    });

    ReadMainSettings();
    for (int d = 0; d <= 9; ++d) {
        const QString caption = QString::fromStdString(
            sondrel::WithoutFirstAmpersand(bookmarks_[static_cast<std::size_t>(d)].toStdString()));
        if (!caption.isEmpty()) {
            action(QStringLiteral("actGoBookmark%1").arg(d))->setText(caption);
            action(QStringLiteral("actSetBookmark%1").arg(d))->setText(caption);
        }
    }
    // Tooltips are shown only while "Show popup hint" is on.
    qApp->installEventFilter(this);
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
        SaveMainSettings();
        store_.Sync();
    });
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    // After a close the companions have been closed by the quit as well; saving
    // again would store their closing, not what the user left open.
    if (!settingsSaved_)
        SaveMainSettings();
}

void MainWindow::setCompanions(ProgressWindow* wait, InfoWindow* info, OptionsWindow* options,
                               QDialog* about) {
    wait_ = wait;
    info_ = info;
    options_ = options;
    about_ = about;
    if (wait_)
        wait_->setTrayHost(this);
    fileList_->setProgress(wait_);
    tagEditor_->setProgress(wait_);
    tagEditor_->setInfoWindow(info_);
    if (info_) {
        connect(info_, &InfoWindow::closedByUser, this, [this] {
            if (closing_)
                return;
            if (QAction* a = action(QStringLiteral("actShowInfo")))
                a->setChecked(false);
        });
        connect(info_, &InfoWindow::togglePictures, this, &MainWindow::TogglePictures);
        connect(info_, &InfoWindow::toggleLyrics, this, &MainWindow::ToggleLyrics);
    }
}

QAction* MainWindow::AddAction(const QString& objectName, const QString& text,
                               const QList<QKeySequence>& keys, bool enabled) {
    auto* a = new QAction(text, this);
    a->setObjectName(objectName);
    a->setShortcuts(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    a->setEnabled(enabled);
    addAction(a);
    return a;
}

QAction* MainWindow::action(const QString& objectName) const {
    return findChild<QAction*>(objectName, Qt::FindDirectChildrenOnly);
}

void MainWindow::BuildActions() {
    connect(AddAction(QStringLiteral("actHelp"), tr("&Help"), {QKeySequence(Qt::Key_F1)}),
            &QAction::triggered, this, &MainWindow::OpenHelp);
    connect(AddAction(QStringLiteral("actSave"), tr("&Save"),
                      {QKeySequence(Qt::Key_F2), QKeySequence(Qt::CTRL | Qt::Key_S)}),
            &QAction::triggered, this, [this] {
                // The button is disabled while a save runs and until a file is shown.
                if (tagEditor_->btnSave()->isEnabled())
                    tagEditor_->btnSaveClick();
            });
    // Commands whose windows arrive later are present and disabled until then.
    AddAction(QStringLiteral("actLyricsDownload"), tr("Download lyrics"),
              {QKeySequence(Qt::Key_F3)}, false);
    AddAction(QStringLiteral("actAddToPlaylist"), tr("Add to playlist"), {QKeySequence(Qt::Key_F4)},
              false);
    connect(AddAction(QStringLiteral("actRefresh"), tr("&Refresh"), {QKeySequence(Qt::Key_F5)}),
            &QAction::triggered, this, [this] { fileList_->edDirChange(); });
    connect(AddAction(QStringLiteral("actRename"), tr("&Rename files"),
                      {QKeySequence(Qt::Key_F6), QKeySequence(Qt::CTRL | Qt::Key_R)}),
            &QAction::triggered, this, [this] { OpenBatchWindow(BatchWindow::kPageRename); });
    connect(AddAction(QStringLiteral("actGenerate"), tr("&Generate tags"),
                      {QKeySequence(Qt::Key_F7), QKeySequence(Qt::CTRL | Qt::Key_G)}),
            &QAction::triggered, this, [this] { OpenBatchWindow(BatchWindow::kPageGenerate); });
    connect(AddAction(QStringLiteral("actFreeDB"), tr("Get data from FreeDB"),
                      {QKeySequence(Qt::Key_F8)}),
            &QAction::triggered, this, [this] { OpenBatchWindow(BatchWindow::kPageFreeDb); });
    connect(
        AddAction(QStringLiteral("actAmazon"), tr("Tags from Amazon"), {QKeySequence(Qt::Key_F9)}),
        &QAction::triggered, this, [this] { OpenBatchWindow(BatchWindow::kPageAmazon); });
    connect(AddAction(QStringLiteral("actPlaylists"), tr("&Create playlists"),
                      {QKeySequence(Qt::Key_F10)}),
            &QAction::triggered, this, [this] { OpenBatchWindow(BatchWindow::kPageExport); });
    connect(AddAction(QStringLiteral("actSelectAll"), tr("Select A&ll"),
                      {QKeySequence(Qt::CTRL | Qt::Key_A)}),
            &QAction::triggered, this, [this] { fileList_->actSelectAll(); });

    auto* lyrics = AddAction(QStringLiteral("actShowLyrics"), tr("Show &lyrics"),
                             {QKeySequence(Qt::CTRL | Qt::Key_L)});
    lyrics->setCheckable(true);
    connect(lyrics, &QAction::triggered, this, [this] { ToggleLyrics(); });
    auto* pictures = AddAction(QStringLiteral("actShowPictures"), tr("Show &pictures"),
                               {QKeySequence(Qt::CTRL | Qt::Key_P)});
    pictures->setCheckable(true);
    connect(pictures, &QAction::triggered, this, [this] { TogglePictures(); });
    auto* info = AddAction(QStringLiteral("actShowInfo"), tr("Show &info"),
                           {QKeySequence(Qt::CTRL | Qt::Key_I)});
    info->setCheckable(true);
    connect(info, &QAction::triggered, this, [this] { ToggleInfo(); });

    connect(AddAction(QStringLiteral("actFocusList"), tr("Focus the file list"),
                      {QKeySequence(Qt::CTRL | Qt::Key_F)}),
            &QAction::triggered, this, [this] { fileList_->lbFile()->setFocus(); });
    connect(AddAction(QStringLiteral("actReadTag"), tr("Next \"Read Tag\" choice"),
                      {QKeySequence(Qt::CTRL | Qt::Key_T)}),
            &QAction::triggered, this, [this] { tagEditor_->actChangeTags(); });

    auto* dirs = AddAction(QStringLiteral("actShowDirs"), tr("&Show folders"), {});
    dirs->setCheckable(true);
    connect(dirs, &QAction::triggered, this, [this] { fileList_->edDirChange(); });
    for (int i = 0; i < kFormatSwitchCount; ++i) {
        auto* a = AddAction(QString::fromLatin1(kFormatSwitches[i]), tr(kFormatCaptions[i]), {});
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this] { fileList_->edDirChange(); });
    }
    connect(AddAction(QStringLiteral("actClearHistory"), tr("Clear &history"), {}),
            &QAction::triggered, this, [this] { tagEditor_->actClearHistory(); });
    connect(AddAction(QStringLiteral("actDeleteTag1"), tr("Delete Tag&1"), {}), &QAction::triggered,
            this, [this] { tagEditor_->actDeleteTag1Execute(); });
    connect(AddAction(QStringLiteral("actDeleteTag2"), tr("Delete Tag&2"), {}), &QAction::triggered,
            this, [this] { tagEditor_->actDeleteTag2Execute(); });
    connect(AddAction(QStringLiteral("actDeleteAllTags"), tr("Delete All Tags"), {}),
            &QAction::triggered, this, [this] { tagEditor_->actDeleteAllTagsExecute(); });
    QAction* deleteOgg = AddAction(QStringLiteral("actDeteteOgg"), tr("Detete &Ogg"), {});
    deleteOgg->setVisible(false);
    connect(deleteOgg, &QAction::triggered, this, [this] { tagEditor_->actDeteteOggExecute(); });
    connect(AddAction(QStringLiteral("actOptions"), tr("&Options..."), {}), &QAction::triggered,
            this, [this] {
                if (options_)
                    options_->exec();
            });
    connect(AddAction(QStringLiteral("actAbout"), tr("About..."), {}), &QAction::triggered, this,
            [this] {
                if (about_)
                    about_->exec();
            });
    for (int d = 0; d <= 9; ++d) {
        const auto digit = static_cast<Qt::Key>(Qt::Key_0 + d);
        AddAction(QStringLiteral("actGoBookmark%1").arg(d), QStringLiteral("&%1").arg(d),
                  {QKeySequence(Qt::CTRL | digit)}, false);
        AddAction(QStringLiteral("actSetBookmark%1").arg(d), QStringLiteral("&%1").arg(d),
                  {QKeySequence(Qt::CTRL | Qt::SHIFT | digit)}, false);
    }
}

void MainWindow::BuildMenu() {
    mainMenu_ = new QMenu(this);
    mainMenu_->setObjectName(QStringLiteral("pmnMain"));
    QMenu* go = mainMenu_->addMenu(tr("&Go to bookmark"));
    QMenu* set = mainMenu_->addMenu(tr("Set &bookmark"));
    for (int d = 0; d <= 9; ++d) {
        go->addAction(action(QStringLiteral("actGoBookmark%1").arg(d)));
        set->addAction(action(QStringLiteral("actSetBookmark%1").arg(d)));
    }
    mainMenu_->addAction(action(QStringLiteral("actShowLyrics")));
    mainMenu_->addAction(action(QStringLiteral("actShowPictures")));
    mainMenu_->addAction(action(QStringLiteral("actShowInfo")));
    QMenu* files = mainMenu_->addMenu(tr("Show &files"));
    for (const char* name : kFormatSwitches)
        files->addAction(action(QString::fromLatin1(name)));
    mainMenu_->addAction(action(QStringLiteral("actShowDirs")));
    mainMenu_->addAction(action(QStringLiteral("actClearHistory")));
    // "Delete Tags" belongs to the file list's popup menu.
    auto* deleteTags = new QMenu(tr("Delete Tags"), this);
    deleteTags->setObjectName(QStringLiteral("mnDeleteTags"));
    for (const char* name : {"actDeleteTag1", "actDeleteTag2", "actDeleteAllTags", "actDeteteOgg"})
        deleteTags->addAction(action(QString::fromLatin1(name)));
    fileList_->setDeleteTagsMenu(deleteTags);
    mainMenu_->addAction(action(QStringLiteral("actOptions")));
    QMenu* language = mainMenu_->addMenu(tr("&Language"));
    language->setObjectName(QStringLiteral("mnLanguage"));
    mainMenu_->addAction(action(QStringLiteral("actAbout")));
    mainMenu_->addAction(action(QStringLiteral("actHelp")));
}

void MainWindow::BuildContent() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(7, 6, 7, 4);

    auto* title = new QHBoxLayout;
    btnMenu_ = new QToolButton(central);
    btnMenu_->setObjectName(QStringLiteral("btnMenu"));
    btnMenu_->setText(tr("Menu"));
    btnMenu_->setToolTip(tr("Menu"));
    connect(btnMenu_, &QToolButton::clicked, this,
            [this] { mainMenu_->popup(mapToGlobal(QPoint(0, 0))); });
    btnHelp_ = new QToolButton(central);
    btnHelp_->setObjectName(QStringLiteral("btnHelp"));
    btnHelp_->setText(QStringLiteral("?"));
    btnHelp_->setToolTip(tr("Help"));
    btnHelp_->setStatusTip(tr("Open the help"));
    connect(btnHelp_, &QToolButton::clicked, this, &MainWindow::OpenHelp);
    title->addWidget(btnMenu_);
    title->addWidget(btnHelp_);
    title->addStretch();
    layout->addLayout(title);

    auto* panel = new QWidget(central);
    panel->setObjectName(QStringLiteral("pnContent"));
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    fileList_ = new FileList(panel);
    fileList_->windowVisible = [this] { return isVisible(); };
    fileList_->scanOptions = [this] {
        ScanOptions o;
        o.showDirs = action(QStringLiteral("actShowDirs"))->isChecked();
        for (int i = 0; i < kFormatSwitchCount; ++i) {
            o.formats[static_cast<std::size_t>(i)] =
                action(QString::fromLatin1(kFormatSwitches[i]))->isChecked();
        }
        o.onlySelectedSubfolders = options_ && options_->ShowSelectedSubfolders();
        return o;
    };
    fileList_->selectFileOnPopup = [this] { return options_ && options_->SelectFileOnPopup(); };
    panelLayout->addWidget(fileList_, 1);

    tagEditor_ = new TagEditor(panel);
    tagEditor_->setFileList(fileList_);
    tagEditor_->liveOptions = [this] {
        TagEditorOptions o;
        if (options_) {
            o.showErrors = options_->ShowErrors();
            o.autoSave = options_->AutoSave();
            o.saveHistory = options_->SaveHistory();
            o.focusAfterSave = options_->FocusAfterSave();
            o.askBeforeDiscard = options_->AskBeforeDiscard();
            o.codePage = options_->CodePage().toStdString();
        }
        return o;
    };
    for (const char* name : {"actRename", "actGenerate", "actPlaylists"}) {
        auto* button = new QToolButton(tagEditor_);
        button->setDefaultAction(action(QString::fromLatin1(name)));
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        tagEditor_->addCommandButton(button);
    }
    panelLayout->addWidget(tagEditor_);
    layout->addWidget(panel, 1);
    fileList_->mayLeave = [this] { return tagEditor_->ConfirmLeave(); };

    auto* status = new QHBoxLayout;
    labStatus_ = new QLabel(central);
    labStatus_->setObjectName(QStringLiteral("labStatus"));
    labReadChoice_ = new QLabel(central);
    labReadChoice_->setObjectName(QStringLiteral("labReadChoice"));
    labModified_ = new QLabel(central);
    labModified_->setObjectName(QStringLiteral("labModified"));
    status->addWidget(labStatus_, 1);
    status->addWidget(labReadChoice_);
    status->addWidget(labModified_);
    layout->addLayout(status);
    connect(fileList_, &FileList::folderOfCurrentChanged, labStatus_, &QLabel::setText);
    setCentralWidget(central);

    connect(tagEditor_, &TagEditor::modifiedChanged, this, [this](bool modified) {
        labModified_->setText(modified ? tr("Modified") : QString());
    });
    // A read of one tag kind alone is the reason for a hint that a save
    // writes what it read into the other kind; it must not go unseen.
    connect(tagEditor_->cbReadTag(), &QComboBox::currentIndexChanged, this,
            [this](int choice) { labReadChoice_->setText(shell::ReadChoiceNote(choice)); });
}

void MainWindow::ReadMainSettings() {
    const QRect stored(store_.ReadInteger(QStringLiteral("Left"), 171),
                       store_.ReadInteger(QStringLiteral("Top"), 0),
                       store_.ReadInteger(QStringLiteral("Width"), 430),
                       store_.ReadInteger(QStringLiteral("Height"), 580));
    // The stored place is the frame's (as saved); the size is the client area's.
    const QRect start = shell::ClampMainWindowStart(stored, ScreenSize(this));
    resize(start.size());
    move(start.topLeft());

    language_ = store_.ReadString(QStringLiteral("Language"), QStringLiteral("English"));
    lyricsLanguage_ = store_.ReadString(QStringLiteral("LyricsLanguage"), QStringLiteral("eng"));
    action(QStringLiteral("actShowDirs"))
        ->setChecked(store_.ReadBool(QStringLiteral("flShowDirs"), true));
    for (const char* name : kFormatSwitches) {
        action(QString::fromLatin1(name))
            ->setChecked(store_.ReadBool(QString::fromLatin1(name), true));
    }
    startFile_ = store_.ReadString(QStringLiteral("StartFile"));
    const QString startDir = store_.ReadString(QStringLiteral("StartDir"), QDir::homePath());
    for (int d = 0; d <= 9; ++d)
        bookmarks_[d] = store_.ReadString(QStringLiteral("Short%1").arg(d));
    tagEditor_->setReadTagChoice(store_.ReadInteger(QStringLiteral("cbReadTag"), 2));
    labReadChoice_->setText(shell::ReadChoiceNote(tagEditor_->ReadTagChoice()));
    tagEditor_->setSaveTagChoice(store_.ReadInteger(QStringLiteral("cbSaveTag"), 2));
    action(QStringLiteral("actShowLyrics"))
        ->setChecked(store_.ReadBool(QStringLiteral("flShowText"), true));
    action(QStringLiteral("actShowPictures"))
        ->setChecked(store_.ReadBool(QStringLiteral("flShowPictures"), true));
    action(QStringLiteral("actShowInfo"))
        ->setChecked(store_.ReadBool(QStringLiteral("flShowInfo"), true));
    tagEditor_->setUseLyrics3(store_.ReadBool(QStringLiteral("flUseLyrics3"), true));
    minimizeNotify_ = store_.ReadBool(QStringLiteral("MinimizeNotify"), false);
    colors_ = {store_.ReadInteger(QStringLiteral("Color1"), 13554646),
               store_.ReadInteger(QStringLiteral("Color2"), 14671064),
               store_.ReadInteger(QStringLiteral("Color3"), 14210256)};
    tagEditor_->setColors(FromStoredColor(colors_[1]), FromStoredColor(colors_[2]));
    // At most ten remembered targets are read, whatever the stored count says.
    const int copies =
        std::clamp(store_.ReadInteger(QStringLiteral("KolCopy"), 0), 0, kMaxRemembered);
    for (int i = 1; i <= copies; ++i)
        copyTargets_ << store_.ReadString(QStringLiteral("CopyTo%1").arg(i));
    const int moves =
        std::clamp(store_.ReadInteger(QStringLiteral("KolMove"), 0), 0, kMaxRemembered);
    for (int i = 1; i <= moves; ++i)
        moveTargets_ << store_.ReadString(QStringLiteral("MoveTo%1").arg(i));
    openFolder(startDir);
}

void MainWindow::SaveMainSettings() {
    store_.WriteString(QStringLiteral("ExecPath"), QCoreApplication::applicationFilePath());
    store_.WriteString(QStringLiteral("Build"), QStringLiteral("4605"));
    store_.WriteString(QStringLiteral("StartDir"), currentFolder());
    // The file the user was on is the one selected at the next start.
    const int row = fileList_->FocusedRow();
    if (firstShown_ && row >= 0 && row < fileList_->FileTable().rowCount() &&
        fileList_->FileTable().at(row).IsFile())
        startFile_ = fileList_->FileTable().at(row).Caption;
    if (!startFile_.isEmpty())
        store_.WriteString(QStringLiteral("StartFile"), startFile_);
    // The frame's place, which is what ReadMainSettings applies.
    store_.WriteInteger(QStringLiteral("Left"), pos().x());
    store_.WriteInteger(QStringLiteral("Top"), pos().y());
    store_.WriteInteger(QStringLiteral("Width"), width());
    store_.WriteInteger(QStringLiteral("Height"), height());
    QString language = language_;
    if (const auto amp = language.indexOf(QLatin1Char('&')); amp >= 0)
        language.remove(amp, 1);
    store_.WriteString(QStringLiteral("Language"), language);
    store_.WriteBool(QStringLiteral("flShowDirs"),
                     action(QStringLiteral("actShowDirs"))->isChecked());
    for (const char* name : kFormatSwitches) {
        store_.WriteBool(QString::fromLatin1(name), action(QString::fromLatin1(name))->isChecked());
    }
    store_.WriteBool(QStringLiteral("flShowText"),
                     action(QStringLiteral("actShowLyrics"))->isChecked());
    store_.WriteBool(QStringLiteral("flShowPictures"),
                     action(QStringLiteral("actShowPictures"))->isChecked());
    store_.WriteBool(QStringLiteral("flShowInfo"),
                     action(QStringLiteral("actShowInfo"))->isChecked());
    store_.WriteBool(QStringLiteral("flUseLyrics3"), tagEditor_->UseLyrics3());
    store_.WriteInteger(QStringLiteral("cbReadTag"), tagEditor_->ReadTagChoice());
    store_.WriteInteger(QStringLiteral("cbSaveTag"), tagEditor_->SaveTagChoice());
    store_.WriteBool(QStringLiteral("MinimizeNotify"), minimizeNotify_);
    for (int d = 0; d <= 9; ++d)
        store_.WriteString(QStringLiteral("Short%1").arg(d), bookmarks_[d]);
    store_.WriteInteger(QStringLiteral("KolCopy"), static_cast<int>(copyTargets_.size()));
    for (int i = 0; i < copyTargets_.size(); ++i) {
        store_.WriteString(QStringLiteral("CopyTo%1").arg(i + 1), copyTargets_[i]);
    }
    store_.WriteInteger(QStringLiteral("KolMove"), static_cast<int>(moveTargets_.size()));
    for (int i = 0; i < moveTargets_.size(); ++i) {
        store_.WriteString(QStringLiteral("MoveTo%1").arg(i + 1), moveTargets_[i]);
    }
    store_.Sync();
}

void MainWindow::openFolder(const QString& folder) {
    fileList_->edDir()->setText(QDir(folder).absolutePath());
}

BatchWindow* MainWindow::batchWindow() {
    if (batch_)
        return batch_;
    BatchHost host;
    host.selectedFiles = [this] {
        std::vector<sondrel::BatchFile> files;
        const sondrel::FileRows& rows = fileList_->FileTable().rows();
        for (const int r : fileList_->SelectedFileRows())
            files.push_back({rows.At(r).folder, rows.At(r).fileName, r});
        return files;
    };
    host.shownFolder = [this] { return FromNative(fileList_->FileTable().rows().ShownFolder()); };
    host.subfolderMode = [this] { return fileList_->FileTable().rows().Subfolders(); };
    host.trackStyle = [this] { return options_ ? options_->TrackIndex() : 0; };
    host.permanentDelete = [this] { return options_ && options_->PermanentDelete(); };
    host.editorOptions = [this] { return tagEditor_->Bridge().Options(); };
    host.refreshList = [this] { fileList_->edDirChange(); };
    host.selectInList = [this](const std::vector<std::string>& paths) { SelectInList(paths); };
    host.showInList = [this](const QString& path) {
        const sondrel::FileRows& rows = fileList_->FileTable().rows();
        for (int r = 0; r < rows.Count(); ++r) {
            if (rows.At(r).IsFile() && FromNative(rows.At(r).Path()) == path) {
                fileList_->SetItemIndex(r);
                return;
            }
        }
    };
    batch_ = new BatchWindow(store_, std::move(host), this);
    batch_->setProgress(wait_);
    return batch_;
}

void MainWindow::OpenBatchWindow(int page) {
    // The action button takes the caption and hint of the command that opened it.
    // One entry per page, so a page added later cannot read past the end.
    static constexpr std::array<const char*, BatchWindow::kPageCount> commands = {
        "actRename", "actGenerate", nullptr, nullptr, "actPlaylists", nullptr};
    const char* name = page >= 0 && page < BatchWindow::kPageCount ? commands[page] : nullptr;
    QAction* command = name ? action(QString::fromLatin1(name)) : nullptr;
    batchWindow()->OpenOn(page, command ? command->text() : QString(),
                          command ? command->toolTip() : QString());
}

QString MainWindow::currentFolder() const {
    return fileList_->edDir()->text();
}

int MainWindow::ReadTagChoice() const {
    return tagEditor_->ReadTagChoice();
}

int MainWindow::SaveTagChoice() const {
    return tagEditor_->SaveTagChoice();
}

void MainWindow::ProcessSettings() {
    labStatus_->clear();
    if (options_)
        player_.SetOptions(options_->PlayFiles(), options_->WinAmpPath());
    trackList_ = shell::TrackListEntries(options_ ? options_->TrackIndex() : 1);
    tagEditor_->setTrackList(trackList_);
    if (info_ && options_) {
        const bool top = options_->TopInfo();
        if (info_->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != top) {
            const bool visible = info_->isVisible();
            info_->setWindowFlag(Qt::WindowStaysOnTopHint, top);
            if (visible)
                info_->show();
        }
    }
    ApplyTrayOption();
    if (options_) {
        shell::ApplyAssociations(QCoreApplication::applicationFilePath(),
                                 options_->AssociateFilesMP3(), options_->AssociateFolders());
    }
}

void MainWindow::ToggleInfo() {
    QAction* a = action(QStringLiteral("actShowInfo"));
    if (!info_)
        return;
    if (info_->isVisible()) {
        info_->hide();
        a->setChecked(false);
    } else {
        info_->show();
        info_->raise();
        a->setChecked(true);
    }
}

void MainWindow::setMediaWindows(LyricsWindow* lyrics, PicturesWindow* pictures) {
    lyricsWindow_ = lyrics;
    picturesWindow_ = pictures;
    if (lyrics) {
        connect(tagEditor_, &TagEditor::fileShown, lyrics, &LyricsWindow::ShowLyrics);
        connect(lyrics, &LyricsWindow::closed, this, [this] {
            if (!closing_)
                action(QStringLiteral("actShowLyrics"))->setChecked(false);
        });
        QAction* download = action(QStringLiteral("actLyricsDownload"));
        download->setEnabled(true);
        connect(download, &QAction::triggered, lyrics, &LyricsWindow::btnDownloadClick);
    }
    if (pictures) {
        connect(tagEditor_, &TagEditor::fileShown, pictures, &PicturesWindow::FileShown);
        connect(pictures, &PicturesWindow::closed, this, [this] {
            if (!closing_)
                action(QStringLiteral("actShowPictures"))->setChecked(false);
        });
    }
}

// Shows or hides a companion to match its switch (the switch keeps its state
// for the settings even while the window is missing).
static void FollowSwitch(QWidget* window, bool on) {
    if (!window)
        return;
    if (on) {
        window->show();
        window->raise();
    } else {
        window->hide();
    }
}

void MainWindow::ToggleLyrics() {
    QAction* a = action(QStringLiteral("actShowLyrics"));
    if (sender() != a)
        a->setChecked(!a->isChecked());
    if (lyricsWindow_ && a->isChecked())
        lyricsWindow_->ShowLyrics();
    FollowSwitch(lyricsWindow_, a->isChecked());
}

void MainWindow::TogglePictures() {
    QAction* a = action(QStringLiteral("actShowPictures"));
    if (sender() != a)
        a->setChecked(!a->isChecked());
    FollowSwitch(picturesWindow_, a->isChecked());
    if (picturesWindow_ && a->isChecked())
        picturesWindow_->ShowPicture();
}

void MainWindow::OpenHelp() {
    const QStringList folders =
        helpFolder_.isEmpty() ? shell::ProgramDataFolders() : QStringList{helpFolder_};
    QString file;
    for (const QString& folder : folders) {
        file = shell::HelpFileFor(folder, language_);
        if (!file.isEmpty())
            break;
    }
    if (file.isEmpty()) {
        QStringList shown;
        for (const QString& folder : folders)
            shown << QDir::toNativeSeparators(folder);
        QMessageBox::warning(this, QStringLiteral("Sondrel"),
                             shell::Message(sondrel::msg::kNoHelpFile)
                                 .arg(language_, shown.join(QStringLiteral(", "))));
        return;
    }
    if (openExternal && openExternal(QUrl::fromLocalFile(file)))
        return;
    // No program on this desktop shows HTML: the help opens in our own window.
    if (!helpWindow_) {
        helpWindow_ = new QDialog(this);
        helpWindow_->setObjectName(QStringLiteral("fmHelp"));
        helpWindow_->setWindowTitle(tr("Sondrel Help"));
        auto* browser = new QTextBrowser(helpWindow_);
        browser->setObjectName(QStringLiteral("tbHelp"));
        browser->setOpenExternalLinks(true);
        auto* layout = new QVBoxLayout(helpWindow_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(browser);
        helpWindow_->resize(640, 560);
    }
    auto* browser = helpWindow_->findChild<QTextBrowser*>(QStringLiteral("tbHelp"));
    browser->setSource(QUrl::fromLocalFile(file));
    helpWindow_->show();
    helpWindow_->raise();
    helpWindow_->activateWindow();
}

void MainWindow::SetTrayHint(const QString& hint) {
    tray_->setToolTip(hint);
}

void MainWindow::SetTrayAnimation(bool running) {
    if (running) {
        trayAnimation_->start();
    } else {
        trayAnimation_->stop();
        tray_->setIcon(TrayIconFrame(0));
    }
}

void MainWindow::ApplyTrayOption() {
    const bool use =
        options_ && options_->UseTrayIcon() && QSystemTrayIcon::isSystemTrayAvailable();
    tray_->setVisible(use);
    minimizeToTray_ = use;
}

void MainWindow::MinimizeToTray() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_->setVisible(true);
        minimizeToTray_ = true;
    }
    MinimizeByButton();
}

void MainWindow::MinimizeByButton() {
    if (!minimizeNotify_) {
        if (tray_->isVisible()) {
            tray_->showMessage(QStringLiteral("Sondrel"), shell::Message(30),
                               QSystemTrayIcon::Information, 10000);
        }
        minimizeNotify_ = true;
    }
    inTray_ = minimizeToTray_;
    minimizedByButton_ = true;
    if (inTray_) {
        hide();
    } else {
        showMinimized();
    }
}

void MainWindow::RestoreFromTray(bool minimizedByButton) {
    showNormal();
    raise();
    activateWindow();
    if (minimizedByButton && wait_ && !wait_->Running()) {
        wait_->Start(1);
        wait_->Finish();
    }
    minimizedByButton_ = false;
    inTray_ = false;
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (firstShown_)
        return;
    firstShown_ = true;
    if (info_ && action(QStringLiteral("actShowInfo"))->isChecked())
        info_->show();
    fileList_->edDirChange();
    fileList_->SelectStartFile(startFile_);
    // The editor takes up the save choice's colours and the selection.
    tagEditor_->cbSaveTagChange();
    tagEditor_->setStarted(true);
    tagEditor_->ShowCurrentFile();
    fileList_->lbFile()->setFocus();
    // The frame is known only once the window is shown.
    QTimer::singleShot(0, this, &MainWindow::KeepTitleBarReachable);
}

void MainWindow::KeepTitleBarReachable() {
    const QPoint place = shell::KeepTitleBarOnScreen(frameGeometry(), ScreenRects());
    if (place != frameGeometry().topLeft())
        move(place);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    const QSize clamped = shell::ClampMainWindowResize(size(), ScreenSize(this));
    if (clamped != size())
        resize(clamped);
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Minimising goes to the tray when the option says so.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && minimizeToTray_ &&
        !inTray_) {
        inTray_ = true;
        QTimer::singleShot(0, this, &QWidget::hide);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!tagEditor_->ConfirmLeave()) {
        event->ignore();
        return;
    }
    SaveMainSettings();
    settingsSaved_ = true;
    closing_ = true;
    event->accept();
    qApp->quit();
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // The long hint of the control under the mouse, when the option is on.
        if (!options_ || options_->ShowHint()) {
            labStatus_->setText(static_cast<QStatusTipEvent*>(event)->tip());
        }
        return true;
    }
    return QMainWindow::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip && options_ && !options_->PopupHint())
        return true;
    return QMainWindow::eventFilter(watched, event);
}
