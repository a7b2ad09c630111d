// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/info_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QTableWidget>

namespace {

// Every text shows in full: its column is wider than the text, and the
// text ends inside the grid's viewport.
void ExpectNothingCut(const InfoWindow& info) {
    const QTableWidget* grid = info.grid();
    for (int column = 0; column < 2; ++column) {
        for (int row = 0; row < InfoWindow::kRows; ++row) {
            const QTableWidgetItem* item = grid->item(row, column);
            const int text = QFontMetrics(item->font()).horizontalAdvance(item->text());
            EXPECT_GT(grid->columnWidth(column), text) << item->text().toStdString();
            EXPECT_LT(grid->columnViewportPosition(column) + text, grid->viewport()->width())
                << item->text().toStdString();
        }
    }
}

TEST(InfoWindow, ValueColumnHoldsTheLongestValue) {
    InfoWindow info;
    info.resize(158, 313);  // the size a first start gives it
    info.show();
    const QStringList values = {"1 234 567",
                                "MPEG 1 Layer III",
                                "3:25",
                                "320 kbps",
                                "44100 Hz",
                                "Joint Stereo",
                                "-",
                                "2.3 (1 024 bytes)",
                                "2",
                                "-",
                                "1 234",
                                "8 765",
                                "No",
                                "No",
                                "Yes",
                                "None",
                                "LAME 3.100 (--preset extreme, VBR method new)",
                                "9d4309e372758c5dbf62c7cd034401f5"};
    for (int row = 0; row < InfoWindow::kRows; ++row)
        info.SetValue(row, values[row]);
    QApplication::processEvents();
    ExpectNothingCut(info);
    const QString folder = qEnvironmentVariable("SONDREL_SCREENSHOTS");
    if (!folder.isEmpty())
        info.grab().save(folder + QStringLiteral("/info_window.png"));

    // A label replaced by a longer one (a language file) widens its column too.
    info.SetLabel(10, QStringLiteral("Position of the first frame"));
    QApplication::processEvents();
    ExpectNothingCut(info);

    // Short values again: the window may stay wide, the columns still fit.
    info.ClearValues();
    info.SetValue(1, QStringLiteral("Ogg Vorbis"));
    QApplication::processEvents();
    ExpectNothingCut(info);
}

// Values set while the window is hidden (every click fills it) are
// measured when it shows: nothing is cut then either.
TEST(InfoWindow, ValuesSetWhileHiddenFitWhenItShows) {
    InfoWindow info;
    info.resize(158, 313);
    QStringList values;
    for (int row = 0; row < InfoWindow::kRows; ++row)
        values << QStringLiteral("value %1").arg(row);
    values[16] = QStringLiteral("LAME 3.100 (--preset extreme, VBR method new)");
    info.SetValues(values);
    info.SetLabel(10, QStringLiteral("Position of the first frame"));
    info.show();
    QApplication::processEvents();
    EXPECT_EQ(info.Value(16), values[16]);
    ExpectNothingCut(info);
}

}  // namespace
