// SPDX-License-Identifier: GPL-3.0-or-later
// The lyrics window: an editor bound to the current file's lyrics (every
// change goes to the tag editor's buffer), loading from and saving to text
// files, and the web search for one file or, in one run, for every selected
// file. Downloads need an HttpClient; without one they are refused with a message.
#pragma once

#include <QList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "net/lrclib.h"
#include "net/lyrics_search.h"

class MediaHost;
class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QToolBar;

class LyricsWindow : public QWidget {
    Q_OBJECT

public:
    LyricsWindow(MediaHost* host, sondrel::net::HttpClient* http, QWidget* parent = nullptr);
    ~LyricsWindow() override;

    void setSites(std::vector<sondrel::net::LyricsSite> sites) { sites_ = std::move(sites); }
    const std::vector<sondrel::net::LyricsSite>& Sites() const { return sites_; }
    void setSearchSettings(sondrel::net::LyricsSettings settings) {
        settings_ = std::move(settings);
    }
    // The code page of text files that are not UTF-8.
    void setCodePage(const std::string& codepage) { codepage_ = codepage; }

    // Where "Download" looks: the web search with its site patterns, or
    // LRCLIB (the default). Kept in the setting "LyricsSource".
    enum LyricsSource { kLyricsFromWeb = 0, kLyricsFromLrclib = 1 };
    QComboBox* cbLyricsSource() const { return cbLyricsSource_; }
    // The synchronised lines LRCLIB sent with the lyrics shown; empty when
    // it had none, or once the text came from elsewhere.
    const std::vector<sondrel::net::lrclib::SyncedLine>& SyncedLyrics() const { return synced_; }
    // Says below the text how many timed lines wait for the next save;
    // hidden while there are none.
    QLabel* syncedNote() const { return syncedNote_; }

    QPlainTextEdit* memo() const { return memo_; }
    QAction* action(const QString& name) const;
    // "LyricsCount", "TemplatesCount", "ErrorCount", kept in the settings.
    long lyricsCount = 0;
    long templatesCount = 0;
    long errorCount = 0;

    // The last batch run's failures: file and reason.
    const std::vector<std::pair<std::string, std::string>>& Failures() const { return failures_; }
    // The message shown last (error boxes and notes), for the status and tests.
    const QString& LastMessage() const { return lastMessage_; }

    // A yes/no question and a message box; tests replace them.
    std::function<bool(const QString&)> confirm;
    std::function<void(const QString&)> showMessage;

    // The text shown for an outcome code.
    static QString OutcomeText(int outcome);

public slots:
    // Takes the lyrics of the file just read from the tag editor's buffer.
    void ShowLyrics();
    // Plain text (UTF-8, else the code page) or, for ".rtf", rich text.
    bool LoadFile(const QString& path);
    bool SaveFile(const QString& path);
    // A drop: the first file is loaded.
    bool DropUrls(const QList<QUrl>& urls);
    void btnOpenClick();
    void btnSaveClick();
    void btnDownloadClick();
    // Stops a running transfer, or fetches the next result.
    void btnStopClick();

signals:
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void SetMemoText(const QString& text);
    void Tell(const QString& message);
    void ShowSyncedNote();
    void ShowStep(const sondrel::net::LyricsSearch::Step& step);
    void CollectCounters();
    void SearchOne(const std::string& path, bool batch);
    // LRCLIB's lyrics of the current file `path`, asked by its tags and
    // length: the outcome text on failure.
    sondrel::net::lrclib::LyricsOutcome FetchFromLrclib(const std::string& path);
    void SaveLyricsOf(const std::string& path, const std::string& text,
                      const std::vector<sondrel::net::lrclib::SyncedLine>& synced);
    void UpdateEditActions();
    bool KeepGoing();
    void StoreSettings();

    MediaHost* host_;
    sondrel::net::HttpClient* http_;
    std::vector<sondrel::net::LyricsSite> sites_;
    sondrel::net::LyricsSettings settings_;
    std::unique_ptr<sondrel::net::LyricsSearch> search_;
    std::vector<sondrel::net::lrclib::SyncedLine> synced_;
    QLabel* syncedNote_ = nullptr;
    QComboBox* cbLyricsSource_ = nullptr;
    std::string codepage_ = "windows-1252";
    QPlainTextEdit* memo_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QMenu* popup_ = nullptr;
    QString openFolder_, saveFolder_;
    std::vector<std::pair<std::string, std::string>> failures_;
    QString lastMessage_;
    bool fromHost_ = false;  // the memo is being filled from the buffer
    bool transferring_ = false;
    bool stopRequested_ = false;
    bool batchRunning_ = false;
    bool placed_ = false;  // shown at its stored place at least once
};
