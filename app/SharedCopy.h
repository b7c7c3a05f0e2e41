// Moving the user's files to and from the shared folder (SharedFolder.h): a copy of a file for the
// server to read, removed when it is no longer needed, and a backup the server wrote there moved to
// the path the user chose. Large files are copied on a worker thread under the progress dialog
// (ProgressDialog, handed to modal::progressOpened like every long operation's), whose Cancel
// stops the copy and removes what was written.
//
//   std::unique_ptr<SharedCopy> copy = copyIntoShared(window, userFile, shared.folder);
//   ... the statement reads copy->path() ...
//   // the copy is removed when `copy` goes (or copy->keep() when it is the user's result)
//
//   const QString written = freshPath(shared.folder, QStringLiteral("VTR.bak"));
//   ... BACKUP ... TO DISK = written, verified ...
//   moveToChosenPath(window, written, chosen); // rename, or copy and delete across file systems
//
// Failures are thrown as FileTransferFailed (a Ukrainian message naming the path), a cancel as
// OperationCancelled (LongOperation.h); either way nothing half-written stays behind.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

class QWidget;

struct FileTransferFailed : std::runtime_error {
    explicit FileTransferFailed(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// A copy this program made: removed when the object goes unless kept. It is in the journal from
// the start (written before the file is made) until removed; kept, it is listed there as lasting.
class SharedCopy {
public:
    explicit SharedCopy(QString path);
    ~SharedCopy();
    SharedCopy(const SharedCopy&) = delete;
    SharedCopy& operator=(const SharedCopy&) = delete;
    QString path() const { return m_path; }
    void keep();

private:
    QString m_path;
    QString m_journalId;
    bool m_kept = false;
};

// A path in folder for a file of this name that does not exist yet: the name itself, else
// "name (2).ext", "name (3).ext", ... Nothing is created.
QString freshPath(const QString& folder, const QString& fileName);
// The same, none of `taken` either: the paths planned for copies not made yet.
QString freshPath(const QString& folder, const QString& fileName, const QStringList& taken);

// Copies source into folder under a fresh name (freshPath) and returns it. The progress dialog
// appears only when the copy takes longer than a moment.
std::unique_ptr<SharedCopy> copyIntoShared(QWidget* window, const QString& source, const QString& folder);
// Copies source to exactly `target`, a path planned before (a plan's statement names it); a file
// that appeared there since is never overwritten: the copy then fails.
std::unique_ptr<SharedCopy> copyIntoSharedAs(QWidget* window, const QString& source, const QString& target);

// Moves the file the server wrote (`written`) to `target`, the path the user named, replacing the
// file there if any (the user chose it). The result is the user's own file: one the server wrote
// (its account's, with the shared folder's ACL entries) is copied, as is any across file systems;
// the copy goes first to a new file of its own beside target, which then takes target's name, and
// written is removed only after. On cancel
// or failure target is as it was and written stays where it is (the message says where).
void moveToChosenPath(QWidget* window, const QString& written, const QString& target);
