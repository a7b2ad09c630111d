// SPDX-License-Identifier: GPL-3.0-or-later
// The options window's "Colors" page and the eight colours of a skin's
// scheme: the skin list, the scheme list with its save button, eight colour
// boxes with the platform colour dialog, and the colours given to the windows.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>

#include "appearance/color_scheme.h"

class QComboBox;
class QPushButton;
class SettingsStore;

namespace shell {

// The skin that keeps the desktop's own frames and palette.
inline constexpr const char* kSystemSkin = "System";
inline constexpr const char* kDefaultSkin = "Windows XP blue";

// Skin names: the sub-folders of "skins" in `folders` (first found wins),
// "System" first.
QStringList SkinNames(const QStringList& folders);
// The folder of skin `name`, "" for "System" or a name not found.
QString SkinFolder(const QStringList& folders, const QString& name);

QColor ToQColor(std::uint32_t value);
std::uint32_t FromQColor(const QColor& color);

// Gives `window` and its controls the scheme's colours: Color1 backgrounds,
// Color2 lists and edit boxes, Color4 text, Color5 buttons and tooltips,
// Color6 and Color7 the shades of pressed and focused buttons, Color8 the
// selection and progress bars.
void ApplySchemeColors(QWidget* window, const sondrel::SchemeColors& colors);
// Back to the desktop's palette (the "System" skin).
void ApplySystemColors(QWidget* window);

class ColorsPage : public QWidget {
    Q_OBJECT
public:
    ColorsPage(SettingsStore& store, QStringList dataFolders, QWidget* parent = nullptr);

    const QString& skin() const { return skin_; }
    const QString& scheme() const { return scheme_; }
    const sondrel::SchemeColors& colors() const { return colors_; }
    // Reads `Skin` and `ColorScheme` and loads that scheme; false when the
    // scheme file could not be read ("File Error" was shown by `tell`).
    bool LoadSettings();
    void SaveSettings();
    // Loads a scheme file of the current skin; false on a missing or short file.
    bool LoadScheme(const QString& name);
    // Writes the colours as `name`.sch: into the user's folder when one is
    // set (setUserFolder), else into the current skin's folder; false on failure.
    bool SaveScheme(const QString& name);
    // The user's data folder: schemes are saved to <folder>/schemes/<skin>/
    // and offered beside the skin's own, so the installed skins stay unwritten.
    void setUserFolder(const QString& folder) { userFolder_ = folder; }
    void SetColor(int index, const QColor& color);
    // Makes `name` the skin (as choosing it in the list does) and loads its scheme.
    void ChooseSkin(const QString& name);

    // Shows a failure to the user ("File Error" and the reason).
    std::function<void(const QString&)> tell;
    // The colour dialog; tests answer it. Returns an invalid colour on cancel.
    std::function<QColor(const QColor& initial)> askColor;
    // Called when the user picks a skin (loaded at once).
    std::function<void(const QString& skin)> skinChosen;

private:
    void FillSkins();
    void FillSchemes();
    // The user's schemes of the current skin; empty without a user folder.
    QString UserSchemeFolder() const;
    void Recolor();

    SettingsStore& store_;
    QStringList folders_;
    QString userFolder_;
    QString skin_;
    QString scheme_ = QStringLiteral("default.sch");
    sondrel::SchemeColors colors_{};
    QComboBox* skins_ = nullptr;
    QComboBox* schemes_ = nullptr;
    std::array<QPushButton*, 8> boxes_{};
};

}  // namespace shell
