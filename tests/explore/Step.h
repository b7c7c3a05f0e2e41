// One step of an explored session: what a user does in the window or what happens to the world
// around it, with everything needed to do it again in a fresh world (paths are kept as tokens).
#pragma once

#include <QString>
#include <QStringList>

namespace explore {

enum class Act {
    // the user
    Connect,     // presses the big connect button
    Settings,    // changes version, login, password and server name in the left panel
    Page,        // clicks a page's tab
    Type,        // types a text into a field of the open page
    Pick,        // presses a small folder button; chooses `text` or cancels (empty)
    Select,      // selects a name in the database list or the backup page's list
    Press,       // presses a big button; answers confirmations `yes`; may cancel midway
    CloseWindow, // closes the window (and starts Zelvaro again)
    // the world
    Restart,     // restarts server A with the options in `text` (blank separated)
    Cut,         // cuts the window's connections to the servers
    BehindDetach, // detaches database `field` on server `number` through a second client
    BehindDrop,  // drops it
    ChangeBak,   // changes a backup file on disk: appends a set of `field` (number 0) or copies `text` over it
    Junk,        // fills the file `text` with junk
    Stop,        // server A stops answering (SIGSTOP) `cancelAtMs` ms into the next step (at once when
                 // not above 0) and goes on `number` ms later (SIGCONT)
    Hold,        // another program opens database `field` on server `number` and keeps it open
};

struct Step {
    Act act = Act::Connect;
    QString field;       // widget name, or database name for the world's steps
    QString text;        // typed text, chosen path, options; may hold @S (scratch) and @D (data folder)
    int number = 0;      // page index, version, server index
    bool yes = false;    // the answer to every confirmation the step brings
    int cancelAtMs = -1; // a long operation is cancelled this long after it starts (-1: never)
    bool closeDuring = false; // ... by closing the window instead of pressing Cancel
    QString user;        // Settings: login, password and which server (A, B or none)
    QString password;

    bool isWorld() const { return act >= Act::Restart; }
    QString describe() const;
    // One line that the step can be read back from (ZELVARO_EXPLORE_REPLAY).
    QString encode() const;
    static bool decode(const QString& line, Step& step);
};

using Steps = QList<Step>;

QString describe(const Steps& steps);

} // namespace explore
