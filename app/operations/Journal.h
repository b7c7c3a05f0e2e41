// The one owner of what an operation leaves outside the server's own bookkeeping: a database put in
// single-user mode, an ACL entry granted on a user's file, a copy, a shared folder. Each is written
// down (durably: the whole journal written anew, synced and renamed over the old one) before it is
// made, and crossed out once taken back. What a crash, a lost link or a closed window left is still
// written there at the next start or connect, and is taken back then or told.
//
// The journal lies in the user's state folder ($XDG_STATE_HOME/zelvaro, ~/.local/state/zelvaro):
// never under /tmp, which a reboot empties while the server keeps what we left.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace ops {

struct JournalEntry {
    enum class Kind {
        SingleUser,   // database on server set SINGLE_USER; taken back by SET MULTI_USER
        AclGrant,     // path: an ACL entry for the server's account (account); taken back by removing it
        Copy,         // path: a copy made for the server; taken back by deleting it
        SharedFolder, // path: a folder made for the server to read and write; taken back by removing it
        Detached,     // database detached to attach other files under its name; path: its files, one a
                      // line; taken back by attaching them again
    };
    Kind kind = Kind::SingleUser;
    QString server;
    QString database;
    QString path;
    QString account;
    // AclGrant: exactly what the entry changed, so that a later run takes back that and no more.
    struct AclUndo {
        int added = 0;          // the rwx bits the account's entry gained
        bool hadEntry = false;  // the account had an entry of its own before (it keeps it)
        int maskBefore = -1;    // the mask before, -1 when there was none
    } acl;
    // Chosen by the user to stay (an attached database's copies, a grant while it stays attached):
    // listed, never taken back at start or exit.
    bool lasting = false;
    // Filled in when written: which run of Zelvaro made it (a live other run's entries are its own).
    QString id;
    qint64 pid = 0;
    QDateTime made;

    // The same thing left (kind, server, database, path), whoever wrote it.
    bool sameThing(const JournalEntry& o) const {
        return kind == o.kind && server == o.server && database == o.database && path == o.path;
    }
    // What it is, in the words the user is told.
    QString describe() const;
};

class Journal {
public:
    // The journal file in `folder` (created when first written); the default is the state folder.
    explicit Journal(QString folder = stateFolder());
    // $XDG_STATE_HOME/zelvaro when set and absolute, else ~/.local/state/zelvaro.
    static QString stateFolder();
    QString file() const;

    // Writes the entry down before the thing is made; returns its id. False (and the reason in
    // `problem`) when it could not be written: the thing must then not be made. The same thing
    // written again (by another layer that records it too) stays one entry: `entry` gets its id.
    bool write(JournalEntry& entry, QString* problem = nullptr);
    // The user chose to keep it: listed from now on, not taken back (at start or exit). A server and
    // database given name what it is kept for (taken back when that database is detached or dropped).
    bool markLasting(const QString& id, const QString& server = QString(), const QString& database = QString());
    // Whatever lay at path went with it (a removed copy and the ACL entries it carried).
    bool crossOutAt(const QString& path);
    // Crosses the entry out: the thing was taken back, or is gone with what held it.
    bool crossOut(const QString& id);
    QList<JournalEntry> entries() const;
    // Entries no live run of Zelvaro but this one is answerable for: this run's and those of runs that
    // ended (crashed, killed, closed before they could take back).
    QList<JournalEntry> ours() const;

private:
    bool rewrite(const QList<JournalEntry>& all, QString* problem);
    QString m_folder;
};

// This process's journal: the state folder's, or the one tests name.
Journal& journal();
void setJournalForTests(const QString& folder);

} // namespace ops
