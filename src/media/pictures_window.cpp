// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/pictures_window.h"

#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QSaveFile>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "appearance/language_file.h"
#include "editor/format_registry.h"
#include "editor/picture_rules.h"
#include "media/http_worker.h"
#include "media/media_host.h"
#include "media/window_place.h"
#include "net/cover_art.h"
#include "net/musicbrainz.h"

using namespace sondrel;
using namespace sondrel::net;

namespace {

const PlaceRule kPlace{"fmImage", QRect(601, 313, 158, 264), QSize(220, 275)};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The text of a message id in the language in force.
QString Msg(int id) {
    return Q(sondrel::ProgramMessages().Shown(id));
}
std::string S(const QString& s) {
    return s.toStdString();
}

QString SaveFilter(int filter) {
    switch (filter) {
        case 1:
            return QObject::tr("JPEG Image File (*.jpg)");
        case 2:
            return QObject::tr("GIF Image File (*.gif)");
        case 3:
            return QObject::tr("PNG Image File (*.png)");
        case 4:
            return QObject::tr("Bitmaps (*.bmp)");
        default:
            return QObject::tr("All Files (*)");
    }
}

}  // namespace

PicturesWindow::PicturesWindow(MediaHost* host, HttpClient* http, QWidget* parent)
    : QWidget(parent, Qt::Tool), host_(host), http_(http) {
    setObjectName(QStringLiteral("fmImage"));
    setWindowTitle(tr("Picture"));
    setAcceptDrops(true);
    resize(220, 275);
    if (host_) {
        const QRect place = StoredPlace(*host_, kPlace, screen()->availableGeometry().size());
        move(place.topLeft());
        resize(place.size());
    }
    // The guard below refuses pictures over 100 megapixels before decoding;
    // those under it must not be refused by Qt's smaller default.
    QImageReader::setAllocationLimit(std::max(QImageReader::allocationLimit(), 512));

    auto tool = [&](const char* name, const QString& text, const QString& hint) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->setToolTip(hint);
        b->setAutoRaise(true);
        return b;
    };
    btnNew_ = tool("btnNew", QStringLiteral("+"), tr("Add a new picture"));
    btnDownload_ =
        tool("btnDownload", QStringLiteral("\u2913"),
             http_ ? tr("Download cover") : tr("Downloads are not available: no network client"));
    btnDelete_ = tool("btnDelete", QStringLiteral("\u2212"), tr("Delete picture"));
    btnSave_ = tool("btnSave", QStringLiteral("\u21a7"), tr("Save picture to file"));
    btnPrev_ = tool("btnPrev", QStringLiteral("<"), tr("Go to previous picture"));
    btnNext_ = tool("btnNext", QStringLiteral(">"), tr("Go to next picture"));
    for (QToolButton* b : {btnNew_, btnDelete_, btnSave_, btnPrev_, btnNext_})
        b->setEnabled(false);
    cbCoverSource_ = new QComboBox(this);
    cbCoverSource_->setObjectName(QStringLiteral("cbCoverSource"));
    cbCoverSource_->addItems({tr("Store search"), tr("Cover Art Archive")});
    cbCoverSource_->setToolTip(tr("Cover source"));
    {
        bool ok = false;
        const int source = host_ ? host_
                                       ->ReadSetting(QStringLiteral("CoverSource"),
                                                     QString::number(kCoverFromArchive))
                                       .toInt(&ok)
                                 : kCoverFromArchive;
        cbCoverSource_->setCurrentIndex(ok && source == kCoverFromStore ? kCoverFromStore
                                                                        : kCoverFromArchive);
    }
    connect(cbCoverSource_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (host_)
            host_->WriteSetting(QStringLiteral("CoverSource"), QString::number(index));
    });
    edDescription_ = new QLineEdit(this);
    edDescription_->setObjectName(QStringLiteral("edDescription"));
    edDescription_->setToolTip(tr("Description of picture"));
    image_ = new QLabel(this);
    image_->setObjectName(QStringLiteral("Image"));
    image_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image_->setMinimumSize(1, 1);
    image_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    image_->setAutoFillBackground(true);

    connect(btnNew_, &QToolButton::clicked, this, &PicturesWindow::btnNewClick);
    connect(btnDownload_, &QToolButton::clicked, this, &PicturesWindow::btnDownloadClick);
    connect(btnDelete_, &QToolButton::clicked, this, &PicturesWindow::btnDeleteClick);
    connect(btnSave_, &QToolButton::clicked, this, &PicturesWindow::btnSaveClick);
    connect(btnPrev_, &QToolButton::clicked, this, &PicturesWindow::btnPrevClick);
    connect(btnNext_, &QToolButton::clicked, this, &PicturesWindow::btnNextClick);
    connect(edDescription_, &QLineEdit::textEdited, this, &PicturesWindow::edDescriptionChange);

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(2, 2, 2, 2);
    bar->setSpacing(1);
    for (QToolButton* b : {btnNew_, btnDownload_, btnDelete_, btnSave_, btnPrev_, btnNext_})
        bar->addWidget(b);
    bar->addWidget(edDescription_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    // A row of its own: the bar already fills the narrowest window.
    auto* sourceRow = new QHBoxLayout;
    sourceRow->setContentsMargins(2, 0, 2, 2);
    sourceRow->addWidget(cbCoverSource_);
    sourceRow->addStretch(1);
    layout->addLayout(sourceRow);
    layout->addWidget(image_, 1);
}

PicturesWindow::~PicturesWindow() {
    if (host_)
        StorePlace(*host_, kPlace, *this);
}

QToolButton* PicturesWindow::button(const QString& name) const {
    return findChild<QToolButton*>(name);
}

void PicturesWindow::Tell(const QString& message) {
    lastMessage_ = message;
    if (showMessage)
        showMessage(message);
    else
        QMessageBox::warning(this, tr("Picture"), message);
}

QImage PicturesWindow::DecodeGuarded(const QByteArray& bytes, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return QImage();
    };
    if (bytes.size() > kMaxPictureFileBytes)
        return fail(Msg(sondrel::msg::kPictureTooLarge));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    if (SignatureOf(std::span(data, static_cast<std::size_t>(bytes.size()))) == ImageKind::None)
        return fail(Msg(sondrel::msg::kNotAPicture));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid()) {
        const std::string tooBig = CheckPictureSize(size.width(), size.height());
        if (!tooBig.empty())
            return fail(Q(tooBig));
    }
    QImage image;
    if (!reader.read(&image))
        return fail(Msg(sondrel::msg::kPictureUndecodable).arg(reader.errorString()));
    const std::string tooBig = CheckPictureSize(image.width(), image.height());
    if (!tooBig.empty())
        return fail(Q(tooBig));
    return image;
}

QByteArray PicturesWindow::CoverAsJpeg(const QByteArray& bytes, QString* error) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const ImageKind kind = SignatureOf(std::span(data, static_cast<std::size_t>(bytes.size())));
    QImage image = DecodeGuarded(bytes, error);
    if (image.isNull())
        return {};
    // JPEG bytes are kept: encoding them again only loses quality.
    if (kind == ImageKind::Jpeg)
        return bytes;
    QByteArray jpeg;
    QBuffer out(&jpeg);
    out.open(QIODevice::WriteOnly);
    if (image.hasAlphaChannel()) {
        QImage flat(image.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, image);
        image = flat;
    }
    if (!image.save(&out, "JPG")) {
        if (error)
            *error = Msg(sondrel::msg::kPictureNotJpeg);
        return {};
    }
    return jpeg;
}

void PicturesWindow::Clear(const QString& caption) {
    setWindowTitle(caption);
    for (QToolButton* b : {btnPrev_, btnNext_, btnDelete_, btnSave_})
        b->setEnabled(false);
    showing_ = true;
    edDescription_->clear();
    edDescription_->setToolTip(tr("Description of picture"));
    showing_ = false;
    picture_ = QImage();
    failedMime_.clear();
    image_->clear();
}

void PicturesWindow::FileShown() {
    if (isVisible())
        ShowPicture();
    else
        stale_ = true;
}

void PicturesWindow::showEvent(QShowEvent* event) {
    if (stale_)
        ShowPicture();
    QWidget::showEvent(event);
}

void PicturesWindow::ShowPicture() {
    stale_ = false;
    const std::string path = host_ ? host_->CurrentFile() : std::string();
    const FormatHandler* handler = path.empty() ? nullptr : HandlerOfPath(path);
    if (!handler || !handler->HoldsPictures()) {
        index_ = -1;
        count_ = 0;
        btnNew_->setEnabled(false);
        Clear(Msg(22) + QStringLiteral("%1/%2").arg(0).arg(0));
        return;
    }
    TagBridge& bridge = host_->Bridge();
    if (!handler->Holds(bridge, path))
        handler->LoadPictures(bridge, path);
    count_ = handler->PictureCount(bridge);
    index_ = ClampPictureIndex(index_, count_, host_->ReadsVersion1Only());
    btnNew_->setEnabled(true);
    const QString caption = Msg(22) + QStringLiteral("%1/%2").arg(index_ + 1).arg(count_);
    if (index_ < 0) {
        Clear(caption);
        return;
    }
    setWindowTitle(caption);
    btnDelete_->setEnabled(true);
    btnSave_->setEnabled(true);
    btnPrev_->setEnabled(index_ >= 1);
    btnNext_->setEnabled(index_ + 1 < count_);

    const std::vector<PictureFacts> facts = handler->Pictures(bridge);
    const PictureFacts fact = index_ < static_cast<int>(facts.size())
                                  ? facts[static_cast<std::size_t>(index_)]
                                  : PictureFacts{};
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("pic") + Q(PreviewExtension(fact.mime)));
    picture_ = QImage();
    failedMime_.clear();
    QString why;
    if (fact.size > kMaxPictureFileBytes) {
        why = Msg(sondrel::msg::kPictureTooLarge);
    } else if (std::string error = handler->ExtractPicture(bridge, index_, S(file));
               !error.empty()) {
        why = Q(error);
    } else {
        QFile in(file);
        if (in.open(QIODevice::ReadOnly))
            picture_ = DecodeGuarded(in.readAll(), &why);
    }
    if (picture_.isNull())
        failedMime_ = Q(fact.mime) + (why.isEmpty() ? QString() : QStringLiteral(" (") + why + ')');

    // Only ID3v2 pictures carry an editable description.
    const bool id3v2 = handler == &Mp3Format();
    showing_ = true;
    edDescription_->setText(Q(fact.description));
    edDescription_->setReadOnly(!id3v2);
    edDescription_->setToolTip(edDescription_->text());
    showing_ = false;
    DrawPicture();
}

QString PicturesWindow::PreviewText() const {
    return image_->text();
}

QSize PicturesWindow::DrawnSize() const {
    return image_->pixmap().isNull() ? QSize() : image_->pixmap().size();
}

void PicturesWindow::DrawPicture() {
    if (picture_.isNull()) {
        image_->setPixmap({});
        image_->setText(failedMime_.isEmpty() ? QString() : Msg(21) + failedMime_);
        image_->setWordWrap(true);
        return;
    }
    if (stretch_) {
        image_->setPixmap(QPixmap::fromImage(
            picture_.scaled(image_->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
        return;
    }
    const PixelSize fit = FitPicture(picture_.width(), picture_.height(), width(), height());
    if (fit.width <= 0 || fit.height <= 0) {
        image_->setPixmap({});
        return;
    }
    image_->setPixmap(QPixmap::fromImage(
        picture_.scaled(fit.width, fit.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
}

void PicturesWindow::btnPrevClick() {
    if (index_ > 0)
        --index_;
    ShowPicture();
}

void PicturesWindow::btnNextClick() {
    if (index_ + 1 < count_)
        ++index_;
    ShowPicture();
}

void PicturesWindow::edDescriptionChange(const QString& text) {
    if (showing_ || !host_ || index_ < 0)
        return;
    const std::string path = host_->CurrentFile();
    const FormatHandler* handler = HandlerOfPath(path);
    // In memory: the next save of the file writes it.
    if (handler)
        handler->SetPictureDescription(host_->Bridge(), index_, S(text));
}

std::string PicturesWindow::AddPicture(const std::string& audio, const std::string& picture,
                                       int position) {
    const FormatHandler* handler = HandlerOfPath(audio);
    if (!handler || !handler->HoldsPictures())
        return {};
    TagBridge& bridge = host_->Bridge();
    if (std::string error = handler->LoadPictures(bridge, audio); !error.empty())
        return error;
    const int at = std::min(position, handler->PictureCount(bridge));
    std::string warning;
    return handler->AddPicture(bridge, at, picture, DescriptionFromFileName(picture), 3, warning);
}

bool PicturesWindow::AddToSelected(const QString& file) {
    if (!host_)
        return false;
    std::string refused = CheckPictureFile(S(file));
    if (refused.empty()) {
        QFile in(file);
        QString why;
        if (!in.open(QIODevice::ReadOnly) || DecodeGuarded(in.readAll(), &why).isNull())
            refused = S(file) + ": " + S(why.isEmpty() ? in.errorString() : why);
    }
    if (!refused.empty()) {
        Tell(Q(refused));
        return false;
    }
    std::vector<std::string> files = host_->SelectedFiles();
    const std::string current = host_->CurrentFile();
    if (files.empty() && !current.empty())
        files.push_back(current);
    const int position = std::max(index_, 0);
    failures_.clear();
    host_->StartProgress(static_cast<int>(files.size()));
    for (const std::string& audio : files) {
        // Every selected file gets it: this loop does not stop halfway.
        if (std::string error = AddPicture(audio, S(file), position); !error.empty())
            failures_.emplace_back(audio, error);
        host_->StepProgress();
        host_->Deselect(audio);
    }
    host_->FinishProgress();
    if (!current.empty())
        host_->ShowFile(current);
    index_ = position;
    ShowPicture();
    TellFailures(Msg(sondrel::msg::kPictureNotAdded).arg(failures_.size()));
    return failures_.empty();
}

void PicturesWindow::TellFailures(const QString& caption) {
    if (failures_.empty())
        return;
    QString list;
    for (const auto& [f, reason] : failures_)
        list += QStringLiteral("\n%1: %2").arg(QDir::toNativeSeparators(Q(f)), Q(reason));
    Tell(caption + list);
}

void PicturesWindow::DropFiles(const QStringList& files) {
    if (!host_ || files.isEmpty())
        return;
    const std::string current = host_->CurrentFile();
    failures_.clear();
    host_->StartProgress(static_cast<int>(files.size()));
    for (const QString& file : files) {
        if (!host_->ProgressRunning())
            break;
        std::string error = CheckPictureFile(S(file));
        if (error.empty()) {
            QFile in(file);
            QString why;
            if (!in.open(QIODevice::ReadOnly) || DecodeGuarded(in.readAll(), &why).isNull())
                error = S(why.isEmpty() ? in.errorString() : why);
            else
                error = AddPicture(current, S(file), std::max(index_, 0));
        }
        if (!error.empty())
            failures_.emplace_back(S(file), error);
        host_->StepProgress();
    }
    host_->FinishProgress();
    host_->ShowFile(current);
    ShowPicture();
    TellFailures(Msg(sondrel::msg::kNotAdded));
}

void PicturesWindow::btnNewClick() {
    const QString file =
        chooseOpenFile ? chooseOpenFile()
                       : QFileDialog::getOpenFileName(
                             this, tr("Add picture from file"), QString(),
                             tr("All (*.jpg *.jpeg *.gif *.bmp *.png);;JPEG Image File (*.jpg);;"
                                "GIF Image File (*.gif);;Bitmaps (*.bmp);;All Files (*)"));
    if (!file.isEmpty())
        AddToSelected(file);
}

void PicturesWindow::btnDeleteClick() {
    if (!host_ || index_ < 0)
        return;
    std::vector<std::string> files = host_->SelectedFiles();
    const std::string current = host_->CurrentFile();
    if (files.empty() && !current.empty())
        files.push_back(current);
    const int position = index_;
    failures_.clear();
    host_->StartProgress(static_cast<int>(files.size()));
    for (const std::string& audio : files) {
        const FormatHandler* handler = HandlerOfPath(audio);
        if (handler && handler->HoldsPictures()) {
            TagBridge& bridge = host_->Bridge();
            std::string error = handler->LoadPictures(bridge, audio);
            if (error.empty() && position < handler->PictureCount(bridge))
                error = handler->DeletePicture(bridge, position);
            if (!error.empty())
                failures_.emplace_back(audio, error);
        }
        host_->StepProgress();
        host_->Deselect(audio);
    }
    host_->FinishProgress();
    if (!current.empty())
        host_->ShowFile(current);
    index_ = std::max(position - 1, 0);
    ShowPicture();
    TellFailures(Msg(sondrel::msg::kPictureNotDeleted).arg(failures_.size()));
}

bool PicturesWindow::SavePictureTo(const QString& path, bool replace) {
    if (!host_ || index_ < 0)
        return false;
    if (QFileInfo::exists(path) && !replace) {
        Tell(Msg(sondrel::msg::kExistsNotReplaced).arg(QDir::toNativeSeparators(path)));
        return false;
    }
    const std::string current = host_->CurrentFile();
    const FormatHandler* handler = HandlerOfPath(current);
    if (!handler || !handler->HoldsPictures())
        return false;
    if (std::string error = handler->ExtractPicture(host_->Bridge(), index_, S(path));
        !error.empty()) {
        Tell(Msg(sondrel::msg::kCannotSavePicture).arg(QDir::toNativeSeparators(path), Q(error)));
        return false;
    }
    return true;
}

void PicturesWindow::btnSaveClick() {
    if (!host_ || index_ < 0)
        return;
    const std::string current = host_->CurrentFile();
    const FormatHandler* handler = HandlerOfPath(current);
    if (!handler)
        return;
    const auto facts = handler->Pictures(host_->Bridge());
    const std::string mime =
        index_ < static_cast<int>(facts.size()) ? facts[static_cast<std::size_t>(index_)].mime : "";
    const SaveChoice choice = SaveChoiceForMime(mime);
    const QString proposed = QFileInfo(Q(current)).absolutePath() + QLatin1Char('/') +
                             Q(ProposedPictureName(S(edDescription_->text()), mime));
    QString filters;
    for (int f = 1; f <= 5; ++f)
        filters += (f > 1 ? QStringLiteral(";;") : QString()) + SaveFilter(f);
    QString path;
    if (chooseSaveFile) {
        path = chooseSaveFile(proposed, SaveFilter(choice.filter));
    } else {
        QString selected = SaveFilter(choice.filter);
        // The dialog asks before it replaces a file.
        path = QFileDialog::getSaveFileName(this, tr("Save picture to file. Type ") + Q(mime),
                                            proposed, filters, &selected);
    }
    if (!path.isEmpty())
        SavePictureTo(path, true);
}

void PicturesWindow::FetchCover(const std::string& path, bool batch, QTemporaryDir& dir,
                                std::map<std::string, std::string>& byAlbum) {
    host_->ShowFile(path);
    const TagFields hub = host_->Bridge().Hub();
    std::string stored;
    if (batch && !hub.album.empty()) {
        if (auto it = byAlbum.find(hub.album); it != byAlbum.end())
            stored = it->second;
    }
    if (stored.empty() && cbCoverSource_->currentIndex() == kCoverFromArchive) {
        std::string error;
        stored = FetchArchiveCover(hub.artist, hub.album, dir, error);
        if (stored.empty()) {
            failures_.emplace_back(path, error);
            if (!batch)
                Tell(Q(error));
            return;
        }
        if (!hub.album.empty())
            byAlbum[hub.album] = stored;
    }
    if (stored.empty()) {
        CoverSearch search(*http_, coverSettings_);
        const CoverResult result = search.FindCover(hub.artist, hub.title, hub.album, [this] {
            QApplication::processEvents();
            return !closing_ && host_->ProgressRunning();
        });
        if (result.bytes.empty()) {
            const char* why = result.status == CoverStatus::KeywordsTooShort
                                  ? "artist and album or title are too short for a search"
                              : result.status == CoverStatus::NoMatch ? "no cover was found"
                                                                      : "the search failed";
            failures_.emplace_back(path, why);
            if (!batch && result.status == CoverStatus::KeywordsTooShort)
                Tell(Msg(53));
            return;
        }
        QString why;
        const QByteArray jpeg =
            CoverAsJpeg(QByteArray(reinterpret_cast<const char*>(result.bytes.data()),
                                   static_cast<qsizetype>(result.bytes.size())),
                        &why);
        if (jpeg.isEmpty()) {
            failures_.emplace_back(path, S(why));
            return;
        }
        std::string base = SafeFileName(hub.album.empty() ? "cover" : hub.album);
        if (base.empty())
            base = "cover";
        QString file = dir.filePath(Q(base) + QStringLiteral(".jpg"));
        for (int n = 2; QFileInfo::exists(file); ++n)
            file = dir.filePath(Q(base) + QStringLiteral(" %1.jpg").arg(n));
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(jpeg) != jpeg.size() || !out.commit()) {
            failures_.emplace_back(path, S(out.errorString()));
            return;
        }
        stored = S(file);
        if (!hub.album.empty())
            byAlbum[hub.album] = stored;
    }
    if (std::string error = AddPicture(path, stored, 0); !error.empty())
        failures_.emplace_back(path, error);
}

std::string PicturesWindow::FetchArchiveCover(const std::string& artist, const std::string& album,
                                              QTemporaryDir& dir, std::string& error) {
    // Hosts from the options' Look-ups page; one on this machine may be plain
    // http (a local mirror of the service).
    auto endpoint = [this](const char* key, std::string_view fallback) {
        web::Endpoint e;
        e.host = S(host_->ReadSetting(QString::fromLatin1(key), QString()).trimmed());
        if (e.host.empty())
            e.host = std::string(fallback);
        e.allowLoopbackHttp = web::IsLoopbackUrl(e.host);
        return e;
    };
    musicbrainz::Settings settings;
    settings.endpoint = endpoint("MusicBrainzHost", musicbrainz::kDefaultHost);
    settings.contact = S(host_->ReadSetting(QStringLiteral("FreeDBEmail"), QString()).trimmed());
    const KeepGoing keepGoing = [this] {
        QApplication::processEvents();
        return !closing_ && host_->ProgressRunning();
    };
    if (artist.empty() && album.empty()) {
        error = "the file has neither artist nor album to search for";
        return {};
    }
    const musicbrainz::ListOutcome found =
        musicbrainz::SearchReleases(*http_, mbLimiter_ ? *mbLimiter_ : MusicBrainzLimiter(),
                                    settings, artist, album, keepGoing);
    if (!found.ok) {
        error = found.error;
        return {};
    }
    const web::Endpoint covers = endpoint("CoverArtHost", coverart::kDefaultHost);
    std::string stem = SafeFileName(album.empty() ? "cover" : album);
    if (stem.empty())
        stem = "cover";
    // The list is in the service's order of relevance; the first release
    // with a front cover wins, among the first few only.
    constexpr int kMaxReleasesTried = 5;
    int tried = 0;
    std::string firstError;
    std::string lastRelease;
    for (const musicbrainz::Entry& entry : found.entries) {
        if (entry.releaseId == lastRelease)
            continue;
        if (++tried > kMaxReleasesTried)
            break;
        lastRelease = entry.releaseId;
        const store::DownloadOutcome got = coverart::DownloadCover(
            *http_, covers, coverart::FrontCoverUrl(covers.host, entry.releaseId),
            web::ServiceUserAgent(settings.contact), S(dir.path()), stem, keepGoing);
        if (got.ok) {
            // Checked and stored like the store's covers: decoded inside the
            // size guard, kept as JPEG.
            QFile in(Q(got.path));
            QString why;
            const QByteArray jpeg =
                in.open(QIODevice::ReadOnly) ? CoverAsJpeg(in.readAll(), &why) : QByteArray();
            in.close();
            if (jpeg.isEmpty()) {
                error = S(why.isEmpty() ? in.errorString() : why);
                return {};
            }
            const QString file = dir.filePath(Q(stem) + QStringLiteral(".jpg"));
            if (file != Q(got.path)) {
                QSaveFile out(file);
                if (!out.open(QIODevice::WriteOnly) || out.write(jpeg) != jpeg.size() ||
                    !out.commit()) {
                    error = S(out.errorString());
                    return {};
                }
            }
            return S(file);
        }
        if (firstError.empty())
            firstError = got.error;
        if (!keepGoing())
            break;
    }
    error = firstError;
    return {};
}

void PicturesWindow::btnDownloadClick() {
    if (!http_) {
        Tell(Msg(sondrel::msg::kNoNetworkClient));
        return;
    }
    closing_ = false;
    if (!host_)
        return;
    std::vector<std::string> files = host_->SelectedFiles();
    const std::string current = host_->CurrentFile();
    if (files.empty() && !current.empty())
        files.push_back(current);
    if (files.empty())
        return;
    const bool batch = files.size() >= 2;
    if (batch) {
        const QString question = Msg(6022).arg(files.size());
        const bool yes =
            confirm ? confirm(question)
                    : QMessageBox::question(this, tr("Picture"), question) == QMessageBox::Yes;
        if (!yes)
            return;
    }
    // Downloaded covers live only for this run.
    QTemporaryDir dir;
    std::map<std::string, std::string> byAlbum;
    failures_.clear();
    host_->StartProgress(static_cast<int>(files.size()));
    for (const std::string& audio : files) {
        if (!host_->ProgressRunning())
            break;
        const FormatHandler* handler = HandlerOfPath(audio);
        if (handler && handler->HoldsPictures())
            FetchCover(audio, batch, dir, byAlbum);
        host_->Deselect(audio);
        host_->StepProgress();
    }
    host_->FinishProgress();
    host_->ShowFile(current.empty() ? files.front() : current);
    index_ = 0;
    ShowPicture();
    TellFailures(Msg(sondrel::msg::kNoCoverAdded).arg(failures_.size()));
}

void PicturesWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    DrawPicture();
}

void PicturesWindow::closeEvent(QCloseEvent* event) {
    // A download still running is stopped: nothing waits for a closed window.
    closing_ = true;
    emit closed();
    QWidget::closeEvent(event);
}

void PicturesWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && btnNew_->isEnabled())
        event->acceptProposedAction();
}

void PicturesWindow::dropEvent(QDropEvent* event) {
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    if (!files.isEmpty() && btnNew_->isEnabled()) {
        event->acceptProposedAction();
        DropFiles(files);
    }
}
