// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/batch_table_model.h"

#include <QColor>
#include <QDataStream>
#include <QIODevice>
#include <QMimeData>

#include <algorithm>

#include "batch/batch_actions.h"
#include "batch/batch_layout.h"

using sondrel::BatchRow;

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

BatchTableModel::BatchTableModel(QObject* parent) : QAbstractTableModel(parent) {
    // The field columns carry the main window's field labels and the
    // information window's row labels, as the language gives them.
    captions_ = {tr("Flag"),     tr("Before"),      tr("After"),  tr("Track #"), tr("Title"),
                 tr("Artist"),   tr("Album"),       tr("Year"),   tr("Genre"),   tr("Comment"),
                 tr("Bit rate"), tr("Sample rate"), tr("Length"), tr("Size")};
}

void BatchTableModel::setRows(std::vector<BatchRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    sort_ = {};
    endResetModel();
}

void BatchTableModel::valuesChanged() {
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

void BatchTableModel::setNewValues(bool newValues) {
    if (newValues_ == newValues)
        return;
    newValues_ = newValues;
    valuesChanged();
}

void BatchTableModel::setCaptions(const QStringList& captions) {
    if (captions.size() != sondrel::kColumnCount)
        return;
    captions_ = captions;
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void BatchTableModel::headerClicked(int column) {
    if (column < 0 || column >= sondrel::kColumnCount)
        return;
    const int before = sort_.column;
    sort_.Click(column);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    if (!rows_.empty())
        rows_.front().SubRow = false;
    const std::vector<std::size_t> order =
        sondrel::SortOrder(rows_, sort_.column, sort_.ascending, newValues_);
    std::vector<int> newPlace(rows_.size());
    for (std::size_t n = 0; n < order.size(); ++n)
        newPlace[order[n]] = static_cast<int>(n);
    sondrel::ApplyOrder(rows_, order);
    QModelIndexList to;
    for (const QModelIndex& i : from)
        to << index(newPlace[static_cast<std::size_t>(i.row())], i.column());
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    if (before >= 0 && before != sort_.column)
        emit dataChanged(index(0, before), index(std::max(rowCount() - 1, 0), before));
}

void BatchTableModel::tickRows(const std::vector<int>& rows, Tick how) {
    for (const int r : rows) {
        if (r < 0 || r >= rowCount())
            continue;
        BatchRow& row = rows_[static_cast<std::size_t>(r)];
        row.Checked = how == Tick::Check ? true : how == Tick::Uncheck ? false : !row.Checked;
        const QModelIndex flag = index(r, sondrel::kColFlag);
        emit dataChanged(flag, flag, {Qt::CheckStateRole});
    }
}

int BatchTableModel::moveRowsBefore(const std::vector<int>& rows, int destination) {
    std::vector<std::size_t> indices;
    for (const int r : rows) {
        if (r >= 0 && r < rowCount())
            indices.push_back(static_cast<std::size_t>(r));
    }
    if (indices.empty())
        return -1;
    beginResetModel();
    std::size_t count = 0;
    const std::size_t first = sondrel::MoveRows(
        rows_, indices, static_cast<std::size_t>(std::max(destination, 0)), &count);
    endResetModel();
    emit rowsMovedTo(static_cast<int>(first), static_cast<int>(count));
    return static_cast<int>(first);
}

int BatchTableModel::moveRowsUnder(const std::vector<int>& rows, int target) {
    std::vector<std::size_t> indices;
    for (const int r : rows) {
        if (r >= 0 && r < rowCount())
            indices.push_back(static_cast<std::size_t>(r));
    }
    if (indices.empty() || target < 0 || target >= rowCount())
        return -1;
    std::vector<BatchRow> moved = rows_;
    std::size_t count = 0;
    const auto first =
        sondrel::MoveRowsUnder(moved, indices, static_cast<std::size_t>(target), &count);
    if (!first)
        return -1;
    beginResetModel();
    rows_ = std::move(moved);
    endResetModel();
    emit rowsMovedTo(static_cast<int>(*first), static_cast<int>(count));
    return static_cast<int>(*first);
}

int BatchTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BatchTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : sondrel::kColumnCount;
}

QVariant BatchTableModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const BatchRow& row = rows_[static_cast<std::size_t>(index.row())];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole:
            if (column == sondrel::kColFlag)
                return {};
            if (column == sondrel::kColAfter)
                return Q(sondrel::AfterCellText(row));
            if (column == sondrel::kColBefore && row.SubRow)
                return QStringLiteral("    \u21b3 ") + Q(row.data.Path);
            return Q(sondrel::ColumnText(row, column, newValues_));
        case Qt::CheckStateRole:
            if (column == sondrel::kColFlag)
                return row.Checked ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::ToolTipRole:
            // A row a run will refuse says why wherever the pointer rests.
            if (!row.Problem.empty())
                return Q(row.Problem);
            return {};
        case Qt::ForegroundRole:
            if (!row.Problem.empty())
                return QColor(Qt::darkRed);
            return {};
        case Qt::BackgroundRole:
            if (column == sort_.column)
                return QColor::fromRgb(kSortedColumnColor);
            return {};
        default:
            return {};
    }
}

bool BatchTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::CheckStateRole ||
        index.column() != sondrel::kColFlag)
        return false;
    rows_[static_cast<std::size_t>(index.row())].Checked =
        value.value<Qt::CheckState>() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

QVariant BatchTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= captions_.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return captions_[section];
    return {};
}

bool BatchTableModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                    int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= captions_.size() ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return false;
    captions_[section] = value.toString();
    emit headerDataChanged(Qt::Horizontal, section, section);
    return true;
}

Qt::ItemFlags BatchTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f =
        Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (index.column() == sondrel::kColFlag)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

Qt::DropActions BatchTableModel::supportedDropActions() const {
    return Qt::MoveAction;
}

Qt::DropActions BatchTableModel::supportedDragActions() const {
    return Qt::MoveAction;
}

QStringList BatchTableModel::mimeTypes() const {
    return {QString::fromLatin1(kRowsMimeType)};
}

QMimeData* BatchTableModel::mimeData(const QModelIndexList& indexes) const {
    std::vector<int> rows;
    for (const QModelIndex& i : indexes) {
        if (i.isValid())
            rows.push_back(i.row());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << static_cast<qint32>(rows.size());
    for (const int r : rows)
        out << static_cast<qint32>(r);
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kRowsMimeType), bytes);
    return mime;
}

bool BatchTableModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                      const QModelIndex&) const {
    return data && action == Qt::MoveAction && data->hasFormat(QString::fromLatin1(kRowsMimeType));
}

bool BatchTableModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                   int column, const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    QDataStream in(data->data(QString::fromLatin1(kRowsMimeType)));
    qint32 count = 0;
    in >> count;
    std::vector<int> rows;
    for (qint32 k = 0; k < count && !in.atEnd(); ++k) {
        qint32 r = 0;
        in >> r;
        rows.push_back(r);
    }
    // Dropped onto a row: its sub-rows; between rows: before `row`; in the
    // empty space below: at the end.
    if (row < 0 && parent.isValid())
        moveRowsUnder(rows, parent.row());
    else
        moveRowsBefore(rows, row < 0 ? rowCount() : row);
    // The move is done here. Reporting the drop as not taken keeps the view
    // from removing the dragged rows as it would after a move elsewhere.
    return false;
}
