#include "DatabaseNamesModel.h"

void DatabaseNamesModel::setNames(FlatStrings names) {
    beginResetModel();
    m_names = std::move(names);
    endResetModel();
}

int DatabaseNamesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_names.size());
}

QVariant DatabaseNamesModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return m_names.at(index.row()).toString();
}
