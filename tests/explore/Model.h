// What the user asked for and therefore what may change: an operation the user confirmed may touch
// exactly the files and databases it names, on the server it was asked of; nothing else may change.
#pragma once

#include "ModalSeam.h"
#include "World.h"

#include <QSet>
#include <QString>

class TMain;

namespace explore {

enum class Op { None, Attach, Detach, Delete, Restore, Backup };

// A press of a big button, read from the window's fields at the moment of the press.
struct Asked {
    Op op = Op::None;
    int server = -1; // the server the operation is meant for
    QString name;    // database
    QString mdf, ldf, bak;
};

// What a step may change.
struct Permit {
    QSet<QString> files;        // may change, appear or vanish
    QSet<QString> unchangedOnly; // may change their bytes but not vanish (a detached database's files)
    QStringList newFilesIn;     // folders where files that did not exist may appear
    int server = -1;
    QString database;           // the one database (its name key) that may appear, change or vanish there
};

class Model {
public:
    // Read before the press: what the user asks for.
    Asked ask(const QString& button, const TMain& window, const World& world) const;
    // What the asked operation may touch, given the state before it and the confirmations the user
    // answered Yes to (a path they name is named by the user).
    Permit permit(const Asked& asked, const Snapshot& before, const QStringList& confirmedTexts) const;
    // The paths of the asked operation server A cannot reach as its statement needs them (empty
    // when it is the user's own account).
    QStringList refusedByServer(const Asked& asked, const World& world) const;

    // Where the names in the database list and in the backup page's list came from (-1: nowhere
    // yet), and whether a connection setting changed since: names of another connection.
    int listSource = -1;
    bool settingsChangedSinceList = false;
    int comboSource = -1;
    bool settingsChangedSinceCombo = false;
};

QString folderOf(const QString& path);

} // namespace explore
