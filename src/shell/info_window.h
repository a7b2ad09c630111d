// SPDX-License-Identifier: GPL-3.0-or-later
// The information window: a file-name label over an 18 x 2 grid of stream facts.
#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;
class QTableWidget;
class SettingsStore;

class InfoWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRows = 18;
    static constexpr int kPicturesRow = 8;
    static constexpr int kLyricsRow = 9;

    explicit InfoWindow(QWidget* parent = nullptr);

    void SetFileName(const QString& name, const QString& fullPath);
    void SetValue(int row, const QString& value);
    // Every row's value at once (a file's facts): the columns are fitted once.
    void SetValues(const QStringList& values);
    QString Value(int row) const;
    QString Label(int row) const;
    void SetLabel(int row, const QString& text);
    void ClearValues();

    // Position and size from the store (clamped to the screen), and back at exit.
    void LoadGeometry(const SettingsStore& store);
    void SaveGeometry(SettingsStore& store) const;

    QLabel* labFileName() const { return labFileName_; }
    QTableWidget* grid() const { return grid_; }

signals:
    void togglePictures();
    void toggleLyrics();
    void closedByUser();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    static constexpr int kLabelColumnWidth = 82;  // the narrowest the label column gets
    // The width `column` needs for its longest text.
    int ColumnTextWidth(int column) const;
    void FitValueColumn();

    QLabel* labFileName_ = nullptr;
    QTableWidget* grid_ = nullptr;
    bool fitPending_ = false;  // texts changed while hidden: fitted when shown
};
