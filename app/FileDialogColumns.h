// The file dialog's size and date columns written in the program's own (Ukrainian) locale.
#pragma once

#include <QIdentityProxyModel>

// Qt's file list writes sizes and dates in the system's locale ("4.88 KiB", "7 Dec 2026"), whatever
// the program's locale is; set on a QFileDialog (setProxyModel), this writes them in QLocale()'s,
// sizes counted in 1024s with its short unit names ("4,88 кБ", "3,00 МБ").
class FileDialogColumns : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};
