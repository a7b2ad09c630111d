// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: its frame (menu, keys, status line, tray icon, help),
// the settings it owns, and ProcessSettings. The file list and the tag
// editor live in the content panel.
#pragma once

#include <QAction>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>

#include "batch/file_ops.h"
#include "shell/player_control.h"
#include "shell/tray_host.h"

class QLabel;
class QMenu;
class QSystemTrayIcon;
class QToolButton;
class QUrl;
class SettingsStore;
class OptionsWindow;
class InfoWindow;
class QDialog;
class FileList;
class TagEditor;
class ProgressWindow;
class LyricsWindow;
class PicturesWindow;
class BatchWindow;

class MainWindow : public QMainWindow, public TrayHost {
    Q_OBJECT
public:
    // Reads the main window's settings from `store` as it is created.
    explicit MainWindow(SettingsStore& store, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The companion windows, created after the main window (start-up order).
    void setCompanions(ProgressWindow* wait, InfoWindow* info, OptionsWindow* options,
                       QDialog* about);

    // The lyrics and pictures windows, which follow the file the editor shows.
    void setMediaWindows(LyricsWindow* lyrics, PicturesWindow* pictures);

    // Applies the options to the running program (after LoadSettings and on "&OK").
    void ProcessSettings();
    // Writes the main window's settings (at exit and when the session ends).
    void SaveMainSettings();

    // The folder the file list shows.
    QString currentFolder() const;
    void openFolder(const QString& folder);
    const QString& startFile() const { return startFile_; }
    void setStartFile(const QString& name) { startFile_ = name; }

    // The language in force (the setting `Language`, written at exit).
    const QString& language() const { return language_; }
    void setLanguage(const QString& name) { language_ = name; }
    QStringList TrackListEntries() const { return trackList_; }
    int ReadTagChoice() const;
    int SaveTagChoice() const;
    bool FirstShown() const { return firstShown_; }

    // Companion toggles, as the menu items and speed buttons do them.
    void ToggleInfo();
    void ToggleLyrics();
    void TogglePictures();
    void MinimizeByButton();
    void OpenHelp();
    // Where F1 looks for the help file (the program's data folders by default).
    void setHelpFolder(const QString& folder) { helpFolder_ = folder; }
    // Hands a file to the desktop; false when no program takes it.
    std::function<bool(const QUrl&)> openExternal;
    // The help in a window of our own, once F1 has needed it.
    QDialog* helpWindow() const { return helpWindow_; }

    // TrayHost
    QString MainCaption() const override { return windowTitle(); }
    void SetTrayHint(const QString& hint) override;
    void SetTrayAnimation(bool running) override;
    void ApplyTrayOption() override;
    void MinimizeToTray() override;
    void RestoreFromTray(bool minimizedByButton) override;
    void SetBatchButtonsEnabled(bool) override {}

    // The batch window, made at its first use; opened on a tab with the
    // selected files (pages as BatchWindow::Page).
    BatchWindow* batchWindow();
    void OpenBatchWindow(int page);

    // File commands: the focused entry renamed, the selected ones deleted,
    // copied or moved into `target`; bookmarks; the player.
    void RenameFocused();
    void DeleteSelected();
    void TransferSelected(sondrel::TransferMode mode, const QString& target);
    void GoToBookmark(int digit);
    void SetBookmark(int digit);
    const std::array<QString, 10>& bookmarks() const { return bookmarks_; }
    const QStringList& copyTargets() const { return copyTargets_; }
    const QStringList& moveTargets() const { return moveTargets_; }
    void PlayFocused();
    void StopPlayer();
    void AddToPlaylist();
    shell::PlayerControl& player() { return player_; }
    // The questions the file commands ask; tests answer them.
    std::function<bool(const QString& question)> askYesNo;
    std::function<QString(const QString& proposal, bool* ok)> askName;
    std::function<sondrel::ConflictAnswer(const QString& existing)> askReplace;
    std::function<QString()> askFolder;

    QAction* action(const QString& objectName) const;
    FileList* fileList() const { return fileList_; }
    TagEditor* tagEditor() const { return tagEditor_; }
    QMenu* mainMenu() const { return mainMenu_; }
    QLabel* statusLabel() const { return labStatus_; }
    QLabel* modifiedLabel() const { return labModified_; }
    QLabel* readChoiceLabel() const { return labReadChoice_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* AddAction(const QString& objectName, const QString& text,
                       const QList<QKeySequence>& keys, bool enabled = true);
    void BuildActions();
    void BuildMenu();
    void BuildContent();
    void ReadMainSettings();
    void BuildFileCommands();
    void FillTargetMenu(QMenu* menu, sondrel::TransferMode mode);
    // Reports in the status line: file operations and the player are never
    // worth a blocking box, but a failure is never silent either.
    void ReportFailures(const QString& what, const std::vector<sondrel::EntryFailure>& failures);
    // After a batch run: the list selects exactly the files of `paths`.
    void SelectInList(const std::vector<std::string>& paths);
    // After a rescan: `row` becomes current at the top of the list, selected
    // alone or only focused.
    void FocusListRow(int row, bool select);
    // Moves the frame so its title bar lies on one of the screens.
    void KeepTitleBarReachable();

    SettingsStore& store_;
    ProgressWindow* wait_ = nullptr;
    InfoWindow* info_ = nullptr;
    OptionsWindow* options_ = nullptr;
    QDialog* about_ = nullptr;
    LyricsWindow* lyricsWindow_ = nullptr;
    PicturesWindow* picturesWindow_ = nullptr;

    QMenu* mainMenu_ = nullptr;
    QToolButton* btnMenu_ = nullptr;
    QToolButton* btnHelp_ = nullptr;
    FileList* fileList_ = nullptr;
    TagEditor* tagEditor_ = nullptr;
    QLabel* labStatus_ = nullptr;
    QLabel* labReadChoice_ = nullptr;
    QLabel* labModified_ = nullptr;
    QDialog* helpWindow_ = nullptr;
    BatchWindow* batch_ = nullptr;
    QString helpFolder_;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* trayAnimation_ = nullptr;
    int trayFrame_ = 0;

    QString startFile_;
    QString language_ = QStringLiteral("English");
    QString lyricsLanguage_ = QStringLiteral("eng");
    QStringList trackList_;
    std::array<QString, 10> bookmarks_;
    QStringList copyTargets_;
    QStringList moveTargets_;
    shell::PlayerControl player_;
    std::array<int, 3> colors_{13554646, 14671064, 14210256};
    bool minimizeNotify_ = false;
    bool firstShown_ = false;
    bool minimizedByButton_ = false;
    bool inTray_ = false;
    bool minimizeToTray_ = false;
    bool settingsSaved_ = false;  // by the close; the destructor need not again
    bool closing_ = false;
};
