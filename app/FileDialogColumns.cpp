// Size and date of the file dialog's rows in the program's locale.
#include "FileDialogColumns.h"

#include <QFileSystemModel>
#include <QLocale>

namespace {
// The columns of QFileSystemModel.
const int kSizeColumn = 1;
const int kDateColumn = 3;
} // namespace

QVariant FileDialogColumns::data(const QModelIndex& index, int role) const {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files || !index.isValid())
        return QIdentityProxyModel::data(index, role);
    const QModelIndex source = mapToSource(index);
    if (index.column() == kSizeColumn && !files->isDir(source))
        return QLocale().formattedDataSize(files->size(source), 2, QLocale::DataSizeTraditionalFormat);
    if (index.column() == kDateColumn)
        return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
    return QIdentityProxyModel::data(index, role);
}
