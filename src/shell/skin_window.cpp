// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/skin_window.h"

#include <QEnterEvent>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QWidget>
#include <QWindow>

#include "appearance/region_text.h"
#include "appearance/skin_layout.h"

namespace shell {

namespace {

// Region files and whole pictures are small; a larger file is no skin's.
constexpr qint64 kMaxRegionFileBytes = 64 * 1024;
// The height of the painted title strip of windows whose pieces do not say.
constexpr int kDefaultTitleHeight = 30;

QRegion ShapeRegion(const sondrel::RegionShape& s);

QRegion Combine(const std::vector<sondrel::RegionShape>& shapes) {
    QRegion out;
    for (const sondrel::RegionShape& s : shapes) {
        const QRegion r = ShapeRegion(s);
        switch (s.combine) {
            case sondrel::RegionCombine::Union:
                out = out.united(r);
                break;
            case sondrel::RegionCombine::Intersect:
                out = out.intersected(r);
                break;
            case sondrel::RegionCombine::Xor:
                out = out.xored(r);
                break;
            case sondrel::RegionCombine::Difference:
                out = out.subtracted(r);
                break;
        }
    }
    return out;
}

QRect Box(const std::vector<int>& v) {
    return v.size() >= 4 ? QRect(QPoint(v[0], v[1]), QPoint(v[2] - 1, v[3] - 1)) : QRect();
}

QRegion ShapeRegion(const sondrel::RegionShape& s) {
    using K = sondrel::RegionShapeKind;
    switch (s.kind) {
        case K::Rectangle:
            return QRegion(Box(s.values));
        case K::Ellipse:
            return QRegion(Box(s.values), QRegion::Ellipse);
        case K::PolygonAlternate:
        case K::PolygonWinding: {
            QPolygon points;
            for (std::size_t i = 0; i + 1 < s.values.size(); i += 2)
                points << QPoint(s.values[i], s.values[i + 1]);
            return QRegion(points, s.kind == K::PolygonWinding ? Qt::WindingFill : Qt::OddEvenFill);
        }
        case K::RoundRect: {
            if (s.values.size() < 6)
                return {};
            QPainterPath path;
            path.addRoundedRect(Box(s.values), s.values[4] / 2.0, s.values[5] / 2.0);
            return QRegion(path.toFillPolygon().toPolygon());
        }
        case K::Group:
            return Combine(s.group);
    }
    return {};
}

bool ReadSmallText(const QString& path, QString* text, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    const QByteArray bytes = f.read(kMaxRegionFileBytes + 1);
    if (bytes.size() > kMaxRegionFileBytes) {
        *error = QStringLiteral("%1: larger than a region file can be").arg(path);
        return false;
    }
    *text = QString::fromUtf8(bytes);
    return true;
}

}  // namespace

QPixmap LoadSkinImage(const QString& folder, const QString& name) {
    for (const char* ext : {".bmp", ".gif"}) {
        const QString path = folder + QLatin1Char('/') + name + QLatin1String(ext);
        if (QFileInfo(path).isFile()) {
            QPixmap p(path);
            if (!p.isNull())
                return p;
        }
    }
    return {};
}

std::optional<QRegion> RegionFromText(const QString& text, const QSize& size, QString* error,
                                      const QString& skinFolder) {
    sondrel::RegionMeasures m;
    m.width = size.width();
    m.height = size.height();
    m.clientRight = size.width();
    m.clientBottom = size.height();
    sondrel::RegionError e;
    sondrel::NamedRegionSource named;
    if (!skinFolder.isEmpty()) {
        // The core has checked the name: it cannot leave the skin's folder.
        named = [&skinFolder](std::string_view name) -> std::optional<std::string> {
            QString named, why;
            const QString path =
                skinFolder + QLatin1Char('/') +
                QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) +
                QStringLiteral(".rgn");
            if (!QFileInfo(path).isFile() || !ReadSmallText(path, &named, &why))
                return std::nullopt;
            return named.toStdString();
        };
    }
    const auto shapes = sondrel::BuildRegion(text.toStdString(), m, e, named);
    if (!shapes) {
        if (error)
            *error = QString::fromStdString(sondrel::DescribeRegionError(e));
        return std::nullopt;
    }
    return Combine(*shapes);
}

QPixmap PaintSkinBackground(const std::array<QPixmap, 9>& pieces, const QSize& size,
                            const QColor& fill) {
    QPixmap out(size);
    out.fill(fill);
    std::array<sondrel::PieceSize, sondrel::kSkinPieceCount> sizes;
    for (int i = 0; i < sondrel::kSkinPieceCount; ++i)
        sizes[i] = {pieces[i].width(), pieces[i].height()};
    QPainter p(&out);
    for (const sondrel::PiecePlacement& at :
         sondrel::BackgroundPlan(sizes, size.width(), size.height()))
        p.drawPixmap(at.x, at.y, pieces[static_cast<std::size_t>(at.piece)]);
    return out;
}

bool PlatformCanShapeWindows() {
    return QGuiApplication::platformName() != QLatin1String("wayland");
}

SkinButton::SkinButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::ArrowCursor);
}

void SkinButton::setPictures(const QPixmap& normal, const QPixmap& pressed, const QPixmap& hover) {
    pictures_ = {normal, pressed, hover};
    resize(sizeHint());
    update();
}

const QPixmap& SkinButton::shown() const {
    if (isDown() && !pictures_[1].isNull())
        return pictures_[1];
    if (hover_ && !pictures_[2].isNull())
        return pictures_[2];
    return pictures_[0];
}

QSize SkinButton::sizeHint() const {
    return pictures_[0].isNull() ? QSize(21, 21) : pictures_[0].size();
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawPixmap(0, 0, shown());
}

void SkinButton::enterEvent(QEnterEvent*) {
    hover_ = true;
    update();
}

void SkinButton::leaveEvent(QEvent*) {
    hover_ = false;
    update();
}

namespace {

// The painted background under every control of a skinned window.
class SkinBackground : public QWidget {
public:
    explicit SkinBackground(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("skinBackground"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    QPixmap picture;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawPixmap(0, 0, picture);
    }
};

}  // namespace

SkinFrame::SkinFrame(QWidget* window, Kind kind)
    : QObject(window), window_(window), kind_(kind), fill_(window->palette().window().color()) {
    close_ = new SkinButton(window);
    close_->setObjectName(QStringLiteral("btnSkinClose"));
    close_->hide();
    connect(close_, &QAbstractButton::clicked, window, &QWidget::close);
    if (kind == Kind::Main) {
        minimize_ = new SkinButton(window);
        minimize_->setObjectName(QStringLiteral("btnSkinMin"));
        minimize_->hide();
        connect(minimize_, &QAbstractButton::clicked, window, &QWidget::showMinimized);
    }
    if (kind == Kind::Main || kind == Kind::Batch) {
        grip_ = new QWidget(window);
        grip_->setObjectName(QStringLiteral("skinGrip"));
        grip_->setCursor(Qt::SizeFDiagCursor);
        grip_->setAutoFillBackground(true);
        grip_->hide();
        grip_->installEventFilter(this);
    }
    auto* background = new SkinBackground(window);
    background->hide();
    window->installEventFilter(this);
}

QString SkinFrame::Prefix() const {
    return kind_ == Kind::Batch ? QStringLiteral("rename_") : QString();
}

bool SkinFrame::Load(const QString& folder, QString* error) {
    static const char* const kRegionFiles[] = {"main_form.rgn", "rename_form.rgn", "about_form.rgn",
                                               "options_form.rgn"};
    const QString regionPath =
        folder + QLatin1Char('/') + QLatin1String(kRegionFiles[static_cast<int>(kind_)]);
    QString text, why;
    if (!ReadSmallText(regionPath, &text, &why) ||
        !RegionFromText(text, window_->size(), &why, folder)) {
        if (error)
            *error = why.startsWith(regionPath) ? why : regionPath + QStringLiteral(": ") + why;
        return false;
    }
    regionText_ = text;
    folder_ = folder;
    if (kind_ == Kind::Main || kind_ == Kind::Batch) {
        const auto& names = sondrel::SkinPieceNames();
        for (int i = 0; i < sondrel::kSkinPieceCount; ++i)
            pieces_[static_cast<std::size_t>(i)] =
                LoadSkinImage(folder, Prefix() + QLatin1String(names[static_cast<std::size_t>(i)]));
        whole_ = {};
    } else {
        pieces_ = {};
        whole_ = LoadSkinImage(
            folder, kind_ == Kind::About ? QStringLiteral("about") : QStringLiteral("options"));
    }
    close_->setPictures(LoadSkinImage(folder, QStringLiteral("btnClose")),
                        LoadSkinImage(folder, QStringLiteral("btnCloseDown")),
                        LoadSkinImage(folder, QStringLiteral("btnCloseOver")));
    if (minimize_)
        minimize_->setPictures(LoadSkinImage(folder, QStringLiteral("btnMin")),
                               LoadSkinImage(folder, QStringLiteral("btnMinDown")),
                               LoadSkinImage(folder, QStringLiteral("btnMinOver")));
    angle_ = LoadSkinImage(folder, QStringLiteral("angle"));

    if (!skinned_) {
        systemMargins_ = window_->contentsMargins();
        const bool visible = window_->isVisible();
        window_->setWindowFlag(Qt::FramelessWindowHint, true);
        if (visible)
            window_->show();
    }
    skinned_ = true;
    const int top = std::max({pieces_[sondrel::kTop].height(), pieces_[sondrel::kTopLeft].height(),
                              kDefaultTitleHeight});
    const int bottom = std::max(pieces_[sondrel::kBottom].height(), angle_.height());
    window_->setContentsMargins(std::max(4, pieces_[sondrel::kLeft].width()), top,
                                std::max(4, pieces_[sondrel::kRight].width()), std::max(4, bottom));
    close_->show();
    if (minimize_)
        minimize_->show();
    if (grip_) {
        grip_->setVisible(!angle_.isNull());
        QPalette p = grip_->palette();
        p.setBrush(QPalette::Window, angle_);
        grip_->setPalette(p);
    }
    Repaint();
    return true;
}

void SkinFrame::Clear() {
    if (!skinned_ || !window_)
        return;
    skinned_ = false;
    const bool visible = window_->isVisible();
    window_->clearMask();
    window_->setWindowFlag(Qt::FramelessWindowHint, false);
    window_->setContentsMargins(systemMargins_);
    close_->hide();
    if (minimize_)
        minimize_->hide();
    if (grip_)
        grip_->hide();
    if (auto* bg = window_->findChild<QWidget*>(QStringLiteral("skinBackground"),
                                                Qt::FindDirectChildrenOnly))
        bg->hide();
    outline_ = {};
    drag_ = {};
    if (visible)
        window_->show();
}

void SkinFrame::setFill(const QColor& fill) {
    fill_ = fill;
    if (skinned_)
        Repaint();
}

void SkinFrame::Repaint() {
    if (!skinned_ || !window_)
        return;
    const QSize size = window_->size();
    QPixmap picture;
    if (whole_.isNull()) {
        picture = PaintSkinBackground(pieces_, size, fill_);
    } else {
        picture = QPixmap(size);
        picture.fill(fill_);
        QPainter p(&picture);
        p.drawPixmap(0, 0, whole_);
    }
    {
        // Without the desktop's frame the title is painted into the top strip.
        QPainter p(&picture);
        QFont f = window_->font();
        f.setBold(true);
        p.setFont(f);
        p.setPen(fill_.lightness() > 128 && pieces_[sondrel::kTop].isNull() ? Qt::black
                                                                            : Qt::white);
        const int left = kind_ == Kind::Main ? 140 : 10;
        p.drawText(QRect(left, 0, size.width() - left - 70, window_->contentsMargins().top()),
                   Qt::AlignVCenter | Qt::AlignLeft, window_->windowTitle());
    }
    auto* bg = static_cast<SkinBackground*>(
        window_->findChild<QWidget*>(QStringLiteral("skinBackground"), Qt::FindDirectChildrenOnly));
    bg->picture = picture;
    bg->setGeometry(0, 0, size.width(), size.height());
    bg->lower();
    bg->show();

    close_->move(size.width() - 40, 5);
    close_->raise();
    int dragRight = close_->x();
    if (minimize_) {
        minimize_->move(size.width() - 62, 5);
        minimize_->raise();
    }
    if (grip_) {
        grip_->resize(angle_.size());
        grip_->move(size.width() - angle_.width(), size.height() - angle_.height());
        grip_->raise();
    }
    QString dragText;
    switch (kind_) {
        case Kind::Main:
            dragText = QString::fromStdString(sondrel::MainDragRegionText(minimize_->x()));
            break;
        case Kind::Batch:
            dragText = QString::fromStdString(sondrel::BatchDragRegionText(dragRight));
            break;
        default:
            dragText = QStringLiteral("R0,0,%1,%2").arg(dragRight - 5).arg(kDefaultTitleHeight);
            break;
    }
    drag_ = RegionFromText(dragText, size, nullptr).value_or(QRegion());
    outline_ =
        RegionFromText(regionText_, size, nullptr, folder_).value_or(QRegion(QRect({}, size)));
    window_->setMask(outline_);
}

bool SkinFrame::eventFilter(QObject* watched, QEvent* event) {
    if (!skinned_)
        return QObject::eventFilter(watched, event);
    if (watched == window_ && event->type() == QEvent::Resize) {
        Repaint();
    } else if (watched == window_ && event->type() == QEvent::WindowTitleChange) {
        Repaint();
    } else if (event->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(event);
        QWindow* handle = window_->windowHandle();
        if (me->button() == Qt::LeftButton && handle) {
            if (watched == grip_) {
                handle->startSystemResize(Qt::RightEdge | Qt::BottomEdge);
                return true;
            }
            if (watched == window_ && drag_.contains(me->position().toPoint())) {
                handle->startSystemMove();
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

bool LoadSkinInto(const std::vector<SkinFrame*>& frames, const QString& folder, QString* error) {
    for (SkinFrame* frame : frames)
        if (!frame->Load(folder, error))
            return false;
    return true;
}

}  // namespace shell
