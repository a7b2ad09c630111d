// SPDX-License-Identifier: GPL-3.0-or-later
// Skinned windows: a window without the desktop's frame whose background is
// painted from a skin's pieces, whose outline is cut by the skin's region
// text, with the skin's close and minimise buttons (normal, hover and pressed
// pictures), a resize grip, and strips that drag the window. "System" is the
// desktop's own frame and look.
#pragma once

#include <QAbstractButton>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <QString>
#include <array>
#include <optional>
#include <vector>

class QWidget;

namespace shell {

// A skin picture: name.bmp, else name.gif; a null pixmap when neither is
// there (a missing picture is no error).
QPixmap LoadSkinImage(const QString& folder, const QString& name);

// The region a region text describes for a window of `size`; nullopt with
// `error` ("line L, position P: ...") when the text is not valid. Named
// regions (T) are the ".rgn" files of `skinFolder`, none without it.
std::optional<QRegion> RegionFromText(const QString& text, const QSize& size, QString* error,
                                      const QString& skinFolder = {});

// The background for a window of `size` from its nine pieces (skin_layout's
// order); pieces missing leave Color1 `fill`.
QPixmap PaintSkinBackground(const std::array<QPixmap, 9>& pieces, const QSize& size,
                            const QColor& fill);

// False where the window system cannot shape or place frameless windows
// (Wayland): the program keeps the "System" skin there.
bool PlatformCanShapeWindows();

// A button drawn from three pictures.
class SkinButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit SkinButton(QWidget* parent = nullptr);
    void setPictures(const QPixmap& normal, const QPixmap& pressed, const QPixmap& hover);
    // The picture the button shows now.
    const QPixmap& shown() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    std::array<QPixmap, 3> pictures_;
    bool hover_ = false;
};

// One window dressed in a skin.
class SkinFrame : public QObject {
    Q_OBJECT
public:
    enum class Kind { Main, Batch, About, Options };
    SkinFrame(QWidget* window, Kind kind);

    // Loads the window's pictures and region file from `folder`; false with
    // `error` when the region file is missing or not valid (what was loaded
    // before stays).
    bool Load(const QString& folder, QString* error);
    // Back to the desktop's frame: no shape, no pictures, no skin buttons.
    void Clear();
    bool skinned() const { return skinned_; }

    // The region of the window that drags it, in window coordinates.
    QRegion dragRegion() const { return drag_; }
    QRegion outline() const { return outline_; }
    SkinButton* closeButton() const { return close_; }
    SkinButton* minimizeButton() const { return minimize_; }
    QWidget* grip() const { return grip_; }
    // Color1 of the scheme, under the pieces.
    void setFill(const QColor& fill);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Repaint();
    QString Prefix() const;

    QPointer<QWidget> window_;
    Kind kind_;
    bool skinned_ = false;
    QString regionText_;
    QString folder_;
    std::array<QPixmap, 9> pieces_;
    QPixmap whole_;
    QRegion outline_;
    QRegion drag_;
    QColor fill_;
    SkinButton* close_ = nullptr;
    SkinButton* minimize_ = nullptr;
    QWidget* grip_ = nullptr;
    QPixmap angle_;
    QMargins systemMargins_;
};

// Loads skin `folder` into the frames in order (main, batch, About,
// options); stops at the first failure with `error`, the frames before it
// keeping the new skin.
bool LoadSkinInto(const std::vector<SkinFrame*>& frames, const QString& folder, QString* error);

}  // namespace shell
