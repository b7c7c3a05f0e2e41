// What the database list shows: the names, kept in one buffer. A server may hold thousands of
// databases; the list view asks only for the rows it draws, so a name becomes a QString only
// when it is on screen or selected.
#pragma once

#include "FlatStrings.h"

#include <QAbstractListModel>

class DatabaseNamesModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // Replaces the whole list at once; nothing is selected afterwards.
    void setNames(FlatStrings names);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    FlatStrings m_names;
};
