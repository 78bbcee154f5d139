#include "scan/CFoundFileModel.h"

#include <QColor>

namespace kestrum {

CFoundFileModel::CFoundFileModel(QObject* parent) : QAbstractTableModel(parent) {}

int CFoundFileModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CFoundFileModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant CFoundFileModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& r = rows_[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        if (index.column() == 0) return r.name;
        return r.damaged ? r.size + " - damaged" : r.size;
    }
    // Damage is the graver word: a partial file that is also damaged shows as damaged.
    if (r.damaged && role == Qt::ForegroundRole) return QColor(0xB0, 0, 0);
    if (r.damaged && role == Qt::ToolTipRole)
        return QString("Holds sectors the rescue map beside the image calls unreadable");
    if (role == Qt::ForegroundRole && r.partial) return QColor(QRgb(kPartialColour));
    if (role == Qt::ForegroundRole && r.joined) return QColor(QRgb(kJoinedColour));
    if (role == Qt::CheckStateRole && index.column() == 0)
        return r.checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

QVariant CFoundFileModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QString("File Name") : QString("Size");
}

Qt::ItemFlags CFoundFileModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

bool CFoundFileModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.column() != 0) return false;
    const bool checked = value.toInt() == Qt::Checked;
    if (rows_[static_cast<size_t>(index.row())].checked == checked) return true;
    setChecked(index.row(), checked);
    emit rowCheckChanged(index.row(), checked);
    return true;
}

void CFoundFileModel::setChecked(int r, bool checked) {
    Row& row = rows_[static_cast<size_t>(r)];
    if (row.checked == checked) return;
    row.checked = checked;
    checkedCount_ += checked ? 1 : -1;
    const QModelIndex cell = index(r, 0);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

void CFoundFileModel::appendRows(std::vector<Row> rows) {
    if (rows.empty()) return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (Row& r : rows) {
        if (r.checked) ++checkedCount_;
        rows_.push_back(std::move(r));
    }
    endInsertRows();
}

void CFoundFileModel::clear() {
    beginResetModel();
    rows_.clear();
    checkedCount_ = 0;
    endResetModel();
}

}  // namespace kestrum
