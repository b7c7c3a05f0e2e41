// The folder picker: prompt, folder tree, path field, OK and Cancel.
#include "FolderPicker.h"

#include "MessageDialog.h"
#include "ModalSeam.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

FolderPicker::FolderPicker(const QString& prompt, const QString& firstSelection, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(prompt);
    setModal(true);
    setSizeGripEnabled(true);

    auto* text = new QLabel(prompt, this);
    text->setObjectName(QStringLiteral("prompt"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);

    m_folders = new QFileSystemModel(this);
    // Only folders are listed, and only an existing folder can be confirmed.
    m_folders->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    m_folders->setRootPath(QDir::rootPath());
    m_folders->setReadOnly(false); // a folder made here is named in place
    // Connected before the view and its selection model are: they move the current row to the
    // parent while the rows are about to go, and must find the guard already up.
    connect(m_folders, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { m_rowsGoing = true; });
    m_tree = new QTreeView(this);
    m_tree->setModel(m_folders);
    // Only the folder just made is named in place: a double click opens a folder, as before.
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setRootIndex(m_folders->index(QDir::rootPath()));
    for (int column = 1; column < m_folders->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->setHeaderHidden(true);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);

    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("path"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setDefault(true);
    auto* newFolder = buttons->addButton(QStringLiteral("Створити папку"), QDialogButtonBox::ActionRole);
    newFolder->setObjectName(QStringLiteral("newFolder"));
    newFolder->setAutoDefault(false);
    connect(newFolder, &QPushButton::clicked, this, &FolderPicker::makeFolder);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_path);
    layout->addWidget(buttons);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && !m_rowsGoing)
                    m_path->setText(QDir::toNativeSeparators(m_folders->filePath(current)));
            });
    connect(m_path, &QLineEdit::textChanged, this, &FolderPicker::pathEdited);
    // The watcher reports a renamed folder as a row gone (and one come) some time after the rename:
    // the selection then falls back to the parent, which must not replace the path just renamed.
    // (The guard goes up before the view hears of the removal: see the constructor's start.)
    connect(m_folders, &QAbstractItemModel::rowsRemoved, this, [this] { m_rowsGoing = false; });
    // The path follows a folder renamed in the tree when it is the one selected.
    connect(m_folders, &QFileSystemModel::fileRenamed, this,
            [this](const QString& folder, const QString& oldName, const QString& newName) {
                if (chosenFolder() == QDir::cleanPath(folder + QLatin1Char('/') + oldName))
                    m_path->setText(
                        QDir::toNativeSeparators(QDir::cleanPath(folder + QLatin1Char('/') + newName)));
            });

    const bool usable = !firstSelection.isEmpty() && QFileInfo(firstSelection).isDir();
    select(usable ? firstSelection : QDir::homePath());
    resize(420, 460);
}

void FolderPicker::select(const QString& folder) {
    const QModelIndex index = m_folders->index(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    if (index.isValid()) {
        m_tree->setCurrentIndex(index);
        m_tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
    }
    m_path->setText(QDir::toNativeSeparators(QDir::cleanPath(folder)));
}

void FolderPicker::pathEdited() {
    m_ok->setEnabled(QFileInfo(m_path->text()).isDir());
}

QString FolderPicker::chosenFolder() const {
    return QDir::cleanPath(QDir::fromNativeSeparators(m_path->text()));
}

void FolderPicker::makeFolder() {
    const QString parent =
        QFileInfo(chosenFolder()).isDir() ? chosenFolder() : m_folders->filePath(m_tree->currentIndex());
    const QModelIndex parentIndex = m_folders->index(parent);
    const QString base = QStringLiteral("Нова папка");
    QString name = base;
    for (int n = 2; QFileInfo::exists(QDir(parent).filePath(name)); ++n)
        name = base + QStringLiteral(" (%1)").arg(n);
    const QModelIndex made = parentIndex.isValid() ? m_folders->mkdir(parentIndex, name) : QModelIndex();
    if (!made.isValid()) {
        modal::messageDialog(QStringLiteral("Не вдалося створити папку в ") +
                                 QDir::toNativeSeparators(parent) +
                                 QStringLiteral(": немає такої папки або права писати в неї."),
                             DialogType::Error, {DialogButton::OK});
        return;
    }
    m_tree->setCurrentIndex(made);
    m_tree->scrollTo(made);
    m_tree->edit(made);
}
