// SPDX-License-Identifier: GPL-3.0-or-later
// The batch window's table: a thin Qt model over the core's rows
// (sondrel::BatchRow). The core holds the values, the sorting and the row
// moves; the model only shows them and passes ticks, header clicks and
// row drags on.
#pragma once

#include <QAbstractTableModel>
#include <QRgb>
#include <QStringList>
#include <array>
#include <vector>

#include "batch/batch_row.h"

class BatchTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The background of the sorted column.
    static constexpr QRgb kSortedColumnColor = 0xF7F7F7;
    static constexpr const char* kRowsMimeType = "application/x-sondrel-batch-rows";

    explicit BatchTableModel(QObject* parent = nullptr);

    // Replaces every row (a model reset); the sort state starts over.
    void setRows(std::vector<sondrel::BatchRow> rows);
    const std::vector<sondrel::BatchRow>& rows() const { return rows_; }
    // For the jobs, which change values in place; call valuesChanged after.
    std::vector<sondrel::BatchRow>& mutableRows() { return rows_; }
    void valuesChanged();

    // The first tab shows current values, the others the new ones.
    void setNewValues(bool newValues);
    bool newValues() const { return newValues_; }
    void setCaptions(const QStringList& captions);

    // A header click: ascending first, again on the same column reverses.
    void headerClicked(int column);
    int sortColumn() const { return sort_.column; }
    bool sortAscending() const { return sort_.ascending; }

    // Ticks of the given rows: set, cleared or flipped.
    enum class Tick { Check, Uncheck, Reverse };
    void tickRows(const std::vector<int>& rows, Tick how);

    // Moves rows to stand before `destination`; returns the first moved row's
    // new index.
    int moveRowsBefore(const std::vector<int>& rows, int destination);
    // Makes rows sub-rows of the row at `target` (a drop onto it); -1 when
    // they may not go there (the target or its parent among them).
    int moveRowsUnder(const std::vector<int>& rows, int target);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    // A column's caption (a language sets them).
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Row drags inside the table move rows; copies, links and text dropped
    // from elsewhere do nothing.
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

signals:
    // After rows moved: their new places (sub-rows taken along included),
    // for the selection.
    void rowsMovedTo(int first, int count);

private:
    std::vector<sondrel::BatchRow> rows_;
    QStringList captions_;
    sondrel::SortState sort_;
    bool newValues_ = false;
};
