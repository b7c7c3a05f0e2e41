// The folder picker: the caller's prompt above a tree of the file system's folders, and a path
// field across the whole dialog that follows the selection and may be typed into. A new folder
// is made inside the one in the path field, and named in place.
#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

class FolderPicker : public QDialog {
    Q_OBJECT
public:
    // `firstSelection` (the folder the caller's field names) is selected when it is an existing
    // folder; otherwise the home folder is.
    FolderPicker(const QString& prompt, const QString& firstSelection, QWidget* parent = nullptr);
    // The folder in the path field, without a trailing separator (except the root's).
    QString chosenFolder() const;

private:
    void select(const QString& folder);
    void pathEdited();
    // A new folder inside the one in the path field, selected, its name open for typing.
    void makeFolder();

    QFileSystemModel* m_folders;
    QTreeView* m_tree;
    QLineEdit* m_path;
    QPushButton* m_ok;
    // The model is taking rows away (a folder renamed or gone, found by its watcher later): the
    // current row it moves meanwhile is not the user's choice.
    bool m_rowsGoing = false;
};
