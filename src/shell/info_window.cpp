// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/info_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <QGuiApplication>
#include <QScreen>
#include "shell/settings_store.h"
#include "shell/window_rules.h"

namespace {

// Built-in labels by row; a language file can replace them.
const char* const kRowLabels[InfoWindow::kRows] = {
    "Size",      "Format",    "Length",   "Bit rate", "Sample rate", "Channels",
    "ID3v1",     "ID3v2",     "Pictures", "Lyrics",   "First frame", "Frames",
    "Protected", "Copyright", "Original", "Emphasis", "Encoder",     "MD5"};

}  // namespace

InfoWindow::InfoWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setObjectName(QStringLiteral("fmmp3Info"));
    setWindowTitle(tr("mp3Info"));
    labFileName_ = new QLabel(this);
    labFileName_->setObjectName(QStringLiteral("labFileName"));
    grid_ = new QTableWidget(kRows, 2, this);
    grid_->setObjectName(QStringLiteral("sgInfo"));
    grid_->horizontalHeader()->hide();
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setDefaultSectionSize(15);
    grid_->verticalHeader()->setMinimumSectionSize(15);
    grid_->setColumnWidth(0, kLabelColumnWidth);
    grid_->setColumnWidth(1, 143);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int row = 0; row < kRows; ++row) {
        grid_->setItem(row, 0, new QTableWidgetItem(tr(kRowLabels[row])));
        grid_->setItem(row, 1, new QTableWidgetItem);
    }
    FitValueColumn();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(labFileName_);
    layout->addWidget(grid_);

    connect(grid_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        switch (shell::InfoGridDoubleClick(row)) {
            case shell::InfoClick::Pictures:
                emit togglePictures();
                break;
            case shell::InfoClick::Lyrics:
                emit toggleLyrics();
                break;
            case shell::InfoClick::Both:
                emit togglePictures();
                emit toggleLyrics();
                break;
        }
    });
}

void InfoWindow::SetFileName(const QString& name, const QString& fullPath) {
    labFileName_->setText(name);
    labFileName_->setToolTip(fullPath);
}

void InfoWindow::SetValue(int row, const QString& value) {
    if (row >= 0 && row < kRows) {
        grid_->item(row, 1)->setText(value);
        FitValueColumn();
    }
}

void InfoWindow::SetValues(const QStringList& values) {
    for (int row = 0; row < kRows && row < values.size(); ++row)
        grid_->item(row, 1)->setText(values[row]);
    FitValueColumn();
}

QString InfoWindow::Value(int row) const {
    return (row >= 0 && row < kRows) ? grid_->item(row, 1)->text() : QString();
}

QString InfoWindow::Label(int row) const {
    return (row >= 0 && row < kRows) ? grid_->item(row, 0)->text() : QString();
}

void InfoWindow::SetLabel(int row, const QString& text) {
    if (row >= 0 && row < kRows) {
        grid_->item(row, 0)->setText(text);
        FitValueColumn();
    }
}

void InfoWindow::ClearValues() {
    for (int row = 0; row < kRows; ++row)
        grid_->item(row, 1)->setText(QString());
    FitValueColumn();
}

int InfoWindow::ColumnTextWidth(int column) const {
    // A cell's text sits inside the focus-frame margin on each side, plus
    // the grid line: what the style takes away from the column's width.
    const int margin =
        2 * (grid_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid_) + 1) + 1;
    int widest = 0;
    for (int row = 0; row < kRows; ++row) {
        const QTableWidgetItem* item = grid_->item(row, column);
        const QFontMetrics metrics(item->font());
        widest = std::max(widest, metrics.horizontalAdvance(item->text()));
    }
    return widest + margin;
}

void InfoWindow::FitValueColumn() {
    // Both columns as wide as their longest text, so no value is cut; the
    // window grows to hold them and the value column takes any room left.
    // Measuring every text is the costly part of showing a file: a hidden
    // window measures once, when it shows.
    if (!isVisible()) {
        fitPending_ = true;
        return;
    }
    fitPending_ = false;
    const int labels = std::max(kLabelColumnWidth, ColumnTextWidth(0));
    const int values = ColumnTextWidth(1);
    grid_->setColumnWidth(0, labels);
    const QScrollBar* bar = grid_->verticalScrollBar();
    const int chrome = 2 * grid_->frameWidth() + (bar->isVisible() ? bar->width() : 0);
    grid_->setMinimumWidth(labels + values + chrome);
    grid_->setColumnWidth(1, std::max(values, grid_->width() - labels - 6));
}

void InfoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitValueColumn();
}

void InfoWindow::showEvent(QShowEvent* event) {
    if (fitPending_)
        FitValueColumn();
    QWidget::showEvent(event);
}

void InfoWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closedByUser();
}

void InfoWindow::LoadGeometry(const SettingsStore& store) {
    const QRect stored(store.ReadInteger(QStringLiteral("fmmp3InfoLeft"), 601),
                       store.ReadInteger(QStringLiteral("fmmp3InfoTop"), 0),
                       store.ReadInteger(QStringLiteral("fmmp3InfoWidth"), 158),
                       store.ReadInteger(QStringLiteral("fmmp3InfoHeight"), 313));
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->availableGeometry().size() : QSize(1024, 768);
    setGeometry(shell::ClampInfoWindowStart(stored, size));
}

void InfoWindow::SaveGeometry(SettingsStore& store) const {
    const QRect g = geometry();
    store.WriteInteger(QStringLiteral("fmmp3InfoTop"), g.top());
    store.WriteInteger(QStringLiteral("fmmp3InfoLeft"), g.left());
    store.WriteInteger(QStringLiteral("fmmp3InfoWidth"), g.width());
    store.WriteInteger(QStringLiteral("fmmp3InfoHeight"), g.height());
}
