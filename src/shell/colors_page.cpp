// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/colors_page.h"

#include <algorithm>

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include "shell/settings_store.h"

namespace shell {

namespace {

// The colours of a skin without a readable scheme: light grey window,
// white boxes, black text, the desktop's blue selection.
constexpr sondrel::SchemeColors kFallbackColors = {
    0xD8D8D8, 0xFFFFFF, 0xC0E0FF, 0x000000, 0xE0E0E0, 0xB0B0B0, 0xF0F0F0, 0xC56A31,
};

const char* const kColorLabels[8] = {"Main",           "Controls",          "Controls 2",
                                     "Text",           "Button background", "Button down",
                                     "Button focused", "Selection"};

bool PlainName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

}  // namespace

QStringList SkinNames(const QStringList& folders) {
    QStringList names{QString::fromLatin1(kSystemSkin)};
    for (const QString& folder : folders) {
        const QStringList found =
            QDir(folder + QStringLiteral("/skins"))
                .entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
        for (const QString& name : found)
            if (!names.contains(name, Qt::CaseInsensitive))
                names << name;
    }
    return names;
}

QString SkinFolder(const QStringList& folders, const QString& name) {
    if (!PlainName(name) || name == QLatin1String(kSystemSkin))
        return {};
    for (const QString& folder : folders) {
        const QString path = folder + QStringLiteral("/skins/") + name;
        if (QFileInfo(path).isDir())
            return path;
    }
    return {};
}

QColor ToQColor(std::uint32_t value) {
    const sondrel::Rgb rgb = sondrel::ToRgb(value);
    return QColor(rgb.red, rgb.green, rgb.blue);
}

std::uint32_t FromQColor(const QColor& color) {
    return sondrel::FromRgb(color.red(), color.green(), color.blue());
}

void ApplySchemeColors(QWidget* window, const sondrel::SchemeColors& colors) {
    QPalette p = window->palette();
    const QColor text = ToQColor(colors[3]);
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(g, QPalette::Window, ToQColor(colors[0]));
        p.setColor(g, QPalette::Base, ToQColor(colors[1]));
        p.setColor(g, QPalette::AlternateBase, ToQColor(colors[1]).darker(104));
        p.setColor(g, QPalette::WindowText, text);
        p.setColor(g, QPalette::Text, text);
        p.setColor(g, QPalette::ButtonText, text);
        p.setColor(g, QPalette::Button, ToQColor(colors[4]));
        p.setColor(g, QPalette::Midlight, ToQColor(colors[6]));
        p.setColor(g, QPalette::Dark, ToQColor(colors[5]));
        p.setColor(g, QPalette::ToolTipBase, ToQColor(colors[4]));
        p.setColor(g, QPalette::ToolTipText, text);
        p.setColor(g, QPalette::Highlight, ToQColor(colors[7]));
        p.setColor(g, QPalette::PlaceholderText, text.lighter(160));
    }
    window->setPalette(p);
    window->setAutoFillBackground(true);
}

void ApplySystemColors(QWidget* window) {
    // Every role set again from the desktop's palette: an empty palette would
    // leave the scheme's colours with the controls that inherited them.
    const QPalette system = QApplication::palette(window);
    QPalette p;
    for (int g = 0; g < QPalette::NColorGroups; ++g)
        for (int r = 0; r < QPalette::NColorRoles; ++r)
            p.setColor(QPalette::ColorGroup(g), QPalette::ColorRole(r),
                       system.color(QPalette::ColorGroup(g), QPalette::ColorRole(r)));
    window->setPalette(p);
}

ColorsPage::ColorsPage(SettingsStore& store, QStringList dataFolders, QWidget* parent)
    : QWidget(parent), store_(store), folders_(std::move(dataFolders)), colors_(kFallbackColors) {
    setObjectName(QStringLiteral("tsColors"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Skin"), this), 0, 0);
    skins_ = new QComboBox(this);
    skins_->setObjectName(QStringLiteral("cbSkin"));
    grid->addWidget(skins_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(tr("Color scheme"), this), 1, 0);
    schemes_ = new QComboBox(this);
    schemes_->setObjectName(QStringLiteral("cbColorScheme"));
    schemes_->setEditable(true);
    grid->addWidget(schemes_, 1, 1);
    auto* save = new QToolButton(this);
    save->setObjectName(QStringLiteral("btnSaveScheme"));
    save->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    save->setToolTip(tr("Save color scheme"));
    grid->addWidget(save, 1, 2);
    for (int i = 0; i < 8; ++i) {
        auto* label = new QLabel(tr(kColorLabels[i]), this);
        label->setObjectName(QStringLiteral("labColor%1").arg(i + 1));
        grid->addWidget(label, 2 + i, 0);
        boxes_[i] = new QPushButton(this);
        boxes_[i]->setObjectName(QStringLiteral("btnColor%1").arg(i + 1));
        boxes_[i]->setMinimumWidth(90);
        grid->addWidget(boxes_[i], 2 + i, 1);
        connect(boxes_[i], &QPushButton::clicked, this, [this, i] {
            const QColor chosen = askColor ? askColor(ToQColor(colors_[i]))
                                           : QColorDialog::getColor(ToQColor(colors_[i]), this);
            if (chosen.isValid())
                SetColor(i, chosen);
        });
    }
    grid->setRowStretch(10, 1);
    grid->setColumnStretch(3, 1);

    connect(skins_, &QComboBox::activated, this,
            [this](int index) { ChooseSkin(skins_->itemText(index)); });
    connect(schemes_, &QComboBox::activated, this,
            [this](int index) { LoadScheme(schemes_->itemText(index)); });
    connect(save, &QToolButton::clicked, this, [this] { SaveScheme(schemes_->currentText()); });
}

bool ColorsPage::LoadSettings() {
    skin_ = store_.ReadString(QStringLiteral("Skin"), QString::fromLatin1(kDefaultSkin));
    scheme_ = store_.ReadString(QStringLiteral("ColorScheme"), QStringLiteral("default.sch"));
    if (skin_ != QLatin1String(kSystemSkin) && SkinFolder(folders_, skin_).isEmpty())
        skin_ = QString::fromLatin1(kSystemSkin);
    FillSkins();
    FillSchemes();
    if (skin_ == QLatin1String(kSystemSkin)) {
        Recolor();
        return true;
    }
    return LoadScheme(scheme_);
}

void ColorsPage::SaveSettings() {
    store_.WriteString(QStringLiteral("Skin"), skin_);
    store_.WriteString(QStringLiteral("ColorScheme"), scheme_);
}

void ColorsPage::FillSkins() {
    skins_->clear();
    skins_->addItems(SkinNames(folders_));
    skins_->setCurrentIndex(std::max(0, skins_->findText(skin_)));
}

QString ColorsPage::UserSchemeFolder() const {
    if (userFolder_.isEmpty() || !PlainName(skin_) || skin_ == QLatin1String(kSystemSkin))
        return {};
    return userFolder_ + QStringLiteral("/schemes/") + skin_;
}

void ColorsPage::FillSchemes() {
    schemes_->clear();
    std::vector<std::string> names;
    const QString folder = SkinFolder(folders_, skin_);
    if (!folder.isEmpty())
        names = sondrel::ListSchemes(QFile::encodeName(folder).toStdString());
    if (const QString user = UserSchemeFolder(); !folder.isEmpty() && !user.isEmpty()) {
        for (std::string& n : sondrel::ListSchemes(QFile::encodeName(user).toStdString())) {
            const auto same = [&n](const std::string& have) {
                return QString::fromStdString(have).compare(QString::fromStdString(n),
                                                            Qt::CaseInsensitive) == 0;
            };
            if (std::none_of(names.begin(), names.end(), same))
                names.push_back(std::move(n));
        }
    }
    for (const std::string& n : names)
        schemes_->addItem(QString::fromStdString(n));
    const int pick = sondrel::SelectScheme(names, scheme_.toStdString());
    if (pick >= 0) {
        schemes_->setCurrentIndex(pick);
        scheme_ = schemes_->itemText(pick) + QStringLiteral(".sch");
    }
}

bool ColorsPage::LoadScheme(const QString& name) {
    const std::string file = sondrel::SchemeFileName(name.toStdString());
    const QString folder = SkinFolder(folders_, skin_);
    if (file.empty() || folder.isEmpty()) {
        Recolor();
        return folder.isEmpty() && skin_ == QLatin1String(kSystemSkin);
    }
    // The user's own scheme of that name first.
    QString path = UserSchemeFolder() + QLatin1Char('/') + QString::fromStdString(file);
    if (UserSchemeFolder().isEmpty() || !QFileInfo(path).isFile())
        path = folder + QLatin1Char('/') + QString::fromStdString(file);
    scheme_ = QString::fromStdString(file);
    const std::size_t read = sondrel::ReadScheme(QFile::encodeName(path).toStdString(), colors_);
    Recolor();
    if (read < colors_.size()) {
        if (tell)
            tell(tr("File Error") + QStringLiteral(": ") + QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

bool ColorsPage::SaveScheme(const QString& name) {
    const std::string file = sondrel::SchemeFileName(name.trimmed().toStdString());
    const QString folder = SkinFolder(folders_, skin_);
    if (file.empty() || folder.isEmpty()) {
        if (tell)
            tell(tr("File Error") + QStringLiteral(": ") + name);
        return false;
    }
    // Into the user's folder when there is one: the installed skins are the
    // program's, and may not be writable.
    QString target = folder;
    if (const QString user = UserSchemeFolder(); !user.isEmpty()) {
        if (!QDir().mkpath(user)) {
            if (tell)
                tell(tr("File Error") + QStringLiteral(": ") + QDir::toNativeSeparators(user));
            return false;
        }
        target = user;
    }
    const QString path = target + QLatin1Char('/') + QString::fromStdString(file);
    const std::string error = sondrel::WriteScheme(QFile::encodeName(path).toStdString(), colors_);
    if (!error.empty()) {
        if (tell)
            tell(tr("File Error") + QStringLiteral(": ") + QString::fromStdString(error));
        return false;
    }
    scheme_ = QString::fromStdString(file);
    FillSchemes();
    return true;
}

void ColorsPage::ChooseSkin(const QString& name) {
    skin_ = name;
    skins_->setCurrentIndex(std::max(0, skins_->findText(name)));
    FillSchemes();
    LoadScheme(scheme_);
    if (skinChosen)
        skinChosen(skin_);
}

void ColorsPage::SetColor(int index, const QColor& color) {
    if (index < 0 || index >= 8)
        return;
    colors_[static_cast<std::size_t>(index)] = FromQColor(color);
    Recolor();
}

void ColorsPage::Recolor() {
    for (int i = 0; i < 8; ++i) {
        const QColor c = ToQColor(colors_[static_cast<std::size_t>(i)]);
        boxes_[i]->setText(QString::fromStdString(sondrel::SlotText(colors_[i])));
        boxes_[i]->setStyleSheet(QStringLiteral("background-color: %1; color: %2;")
                                     .arg(c.name(), c.lightness() > 128 ? "black" : "white"));
    }
}

}  // namespace shell
