// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures window: the pictures of the current file with paging, the
// description, adding (dialog, drop, every selected file), deleting, saving
// to a file and fetching a cover from the web. Pictures are stored through
// the format handlers on the tag editor's components; decoding goes through
// Qt's image readers inside the size guard of editor/picture_rules.
#pragma once

#include <QImage>
#include <QTemporaryDir>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "net/cover_search.h"
#include "net/rate_limiter.h"

class MediaHost;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

class PicturesWindow : public QWidget {
    Q_OBJECT

public:
    PicturesWindow(MediaHost* host, sondrel::net::HttpClient* http, QWidget* parent = nullptr);
    ~PicturesWindow() override;

    void setCoverSettings(sondrel::net::CoverSettings settings) {
        coverSettings_ = std::move(settings);
    }
    // Where "Download cover" looks: the store search, or MusicBrainz and the
    // Cover Art Archive (the default). Kept in the setting "CoverSource".
    enum CoverSource { kCoverFromStore = 0, kCoverFromArchive = 1 };
    QComboBox* cbCoverSource() const { return cbCoverSource_; }
    // MusicBrainz requests queue here: the program's one limiter unless a
    // test gives its own.
    void setMusicBrainzLimiter(sondrel::net::RateLimiter* limiter) { mbLimiter_ = limiter; }
    // "Stretch picture": the picture fills the area instead of keeping its shape.
    void setStretch(bool on) { stretch_ = on; }

    int PictureIndex() const { return index_; }
    int PictureCount() const { return count_; }
    // The picture as decoded, and as drawn in the preview.
    const QImage& Picture() const { return picture_; }
    QSize DrawnSize() const;
    QLineEdit* edDescription() const { return edDescription_; }
    QToolButton* button(const QString& name) const;
    QString PreviewText() const;

    // The last message and failures of a run over several files.
    const QString& LastMessage() const { return lastMessage_; }
    const std::vector<std::pair<std::string, std::string>>& Failures() const { return failures_; }

    // Dialogs and boxes; tests replace them.
    std::function<QString()> chooseOpenFile;
    // The name chosen for saving, from a proposed path and its filter
    // (the dialog asks before replacing a file).
    std::function<QString(const QString& proposed, const QString& filter)> chooseSaveFile;
    std::function<bool(const QString&)> confirm;
    std::function<void(const QString&)> showMessage;

    // A picture file decoded inside the size guard; null with `error` set when refused.
    static QImage DecodeGuarded(const QByteArray& bytes, QString* error);
    // Downloaded bytes as stored: JPEG kept as it is, anything else decoded
    // and encoded as JPEG; empty with `error` when they are not a picture.
    static QByteArray CoverAsJpeg(const QByteArray& bytes, QString* error);

public slots:
    // Shows picture PictureIndex() of the current file (after every read).
    void ShowPicture();
    // The editor shows another file: its picture is shown now when the
    // window is, else when the window next shows (decoding costs a click).
    void FileShown();
    void btnPrevClick();
    void btnNextClick();
    void edDescriptionChange(const QString& text);
    // Adds `file` to every selected file (at most at its picture count).
    bool AddToSelected(const QString& file);
    // Adds dropped files to the current file at the shown position.
    void DropFiles(const QStringList& files);
    void btnNewClick();
    void btnDeleteClick();
    // Writes the shown picture to `path`; an existing file is replaced only
    // when `replace` is set.
    bool SavePictureTo(const QString& path, bool replace);
    void btnSaveClick();
    void btnDownloadClick();

signals:
    void closed();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void Tell(const QString& message);
    void DrawPicture();
    void Clear(const QString& caption);
    std::string AddPicture(const std::string& audio, const std::string& picture, int position);
    void FetchCover(const std::string& path, bool batch, QTemporaryDir& dir,
                    std::map<std::string, std::string>& byAlbum);
    // The front cover of the first release MusicBrainz finds for the file's
    // artist and album, downloaded into `dir`; the file's path, or empty
    // with `error` set.
    std::string FetchArchiveCover(const std::string& artist, const std::string& album,
                                  QTemporaryDir& dir, std::string& error);

    MediaHost* host_;
    sondrel::net::HttpClient* http_;
    sondrel::net::CoverSettings coverSettings_;
    sondrel::net::RateLimiter* mbLimiter_ = nullptr;
    QComboBox* cbCoverSource_ = nullptr;
    bool stretch_ = false;
    bool stale_ = false;  // another file was shown while the window was hidden
    int index_ = -1;
    int count_ = 0;
    QImage picture_;
    QString failedMime_;
    QToolButton* btnNew_ = nullptr;
    QToolButton* btnDownload_ = nullptr;
    QToolButton* btnDelete_ = nullptr;
    QToolButton* btnSave_ = nullptr;
    QToolButton* btnPrev_ = nullptr;
    QToolButton* btnNext_ = nullptr;
    QLineEdit* edDescription_ = nullptr;
    QLabel* image_ = nullptr;
    QString lastMessage_;
    // The failures of the last run, each with its file, in one message.
    void TellFailures(const QString& caption);
    std::vector<std::pair<std::string, std::string>> failures_;
    bool showing_ = false;
    bool closing_ = false;  // the window closed while a download ran
};
