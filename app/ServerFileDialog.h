// The server's own files and folders, for a server that does not see this computer's paths (a
// container, another machine): a modal dialog listing the folders and files the server lists, for
// choosing a .mdf, .ldf or .bak file or a target folder. What is chosen (or typed) is returned
// unchanged and never looked up on this computer.
//
//   AdoQuery& query = ...;                         // the window's connection, nothing open on it
//   const serverfiles::Folders start = serverfiles::defaultFolders(query);
//   std::optional<QString> bak = serverfiles::pick(
//       modal::Kind::ServerFile, QStringLiteral("Резервна копія на сервері"), {QStringLiteral("bak")},
//       start.backup, serverfiles::lister(query));
//   std::optional<QString> folder = serverfiles::pick(modal::Kind::ServerFolder, title, {}, start.data,
//                                                     serverfiles::lister(query));
//
// Through the modal seam: a test's responder gets a Request of that kind (caption = title,
// directory = where it starts, filter = the extensions joined by ";") and answers with a path.
// Keyboard: Enter on a folder opens it and on a file chooses it, Backspace goes up, Enter in the
// path field opens the folder typed (or chooses a file typed with one of the extensions).
#pragma once

#include "ModalSeam.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class AdoQuery;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace serverfiles {

struct Entry {
    QString name;
    bool folder = false;
};
// Lists one folder of the server; may throw DbError (shown in the dialog, which stays open).
using Lister = std::function<QList<Entry>(const QString& folder)>;

// Through master.dbo.xp_dirtree N'folder', 1, 1 (every version): folders first, then files, each
// by name. A folder the server cannot read lists as empty, as xp_dirtree says nothing then.
QList<Entry> list(AdoQuery& query, const QString& folder);
Lister lister(AdoQuery& query);

struct Folders {
    QString data, log, backup; // empty when the server does not say
};
// SERVERPROPERTY('InstanceDefaultDataPath'/'LogPath'/'BackupPath') where the version has them,
// else the folder of master's primary file (every version). Throws DbError when nothing answers.
Folders defaultFolders(AdoQuery& query);

// The server's path syntax, by the path itself: "C:\..." or "\\..." is Windows, otherwise "/".
QString joined(const QString& folder, const QString& name);
QString parentOf(const QString& folder); // the folder itself at a root

// Where the dialog opens: the folder of the path in the page's field when the server has that
// folder (what the user last chose or typed), else `fallback` (the server's default folder).
QString startIn(const QString& fieldPath, const QString& fallback,
                const std::function<bool(const QString& folder)>& serverHasFolder);

std::optional<QString> pick(modal::Kind kind, const QString& title, const QStringList& extensions,
                            const QString& start, const Lister& lister);

} // namespace serverfiles

class ServerFileDialog : public QDialog {
    Q_OBJECT
public:
    // kind: modal::Kind::ServerFile or ServerFolder; extensions without the dot, any case.
    ServerFileDialog(modal::Kind kind, const QString& title, const QStringList& extensions,
                     const QString& start, serverfiles::Lister lister, QWidget* parent = nullptr);
    QString chosenPath() const { return m_chosen; }
    QString folder() const { return m_folder; }
    QListWidget* entries() const { return m_entries; }
    QLineEdit* pathField() const { return m_path; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Lists folder; cameFrom names the folder in it that was just left (going up), made current.
    void openFolder(const QString& folder, const QString& cameFrom = QString());
    void activate(QListWidgetItem* item);
    void pathEntered();
    void up();
    void choose();
    void choosePath(const QString& path);
    bool wanted(const QString& fileName) const;

    modal::Kind m_kind;
    QStringList m_extensions;
    serverfiles::Lister m_lister;
    QString m_folder;
    QString m_chosen;
    QLineEdit* m_path;
    QListWidget* m_entries;
    QLabel* m_problem;
    QPushButton* m_choose;
};
