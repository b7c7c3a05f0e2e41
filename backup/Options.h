// What zelvaro-backup is asked to do: read from the command line and from a configuration file
// that uses the same keys ("server = NAME" for "--server NAME").
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace backupcmd {

struct Options {
    QString server;       // empty: the window's name for the version on this computer
    QString version = QStringLiteral("2000");
    QString login = QStringLiteral("sa");
    QString passwordFile; // empty: systemd's credential "password"
    QStringList databases; // empty: every user database the server lists
    QString to;
    std::optional<int> keep; // unset: nothing is deleted
    bool copyOnly = false;
    // How long a statement may go without the server reporting progress before it is cancelled.
    int timeLimitSeconds = 3600;
    bool help = false;
    bool versionInfo = false;
};

// Reads the arguments (without the program's name). "--config FILE" is read first, wherever it
// stands; what the command line says then replaces what the file said, and databases named on the
// command line replace the file's list. On a mistake returns the reason in Ukrainian in `error`.
Options parse(const QStringList& arguments, QString* error);

// The versions the window offers.
const QStringList& knownVersions();

QString usage();

// "90", "90s", "30min", "2h" (a bare number is seconds, as in systemd's units) in seconds; 0 for
// anything else, or for more than 31 days.
int parseDuration(const QString& text);

} // namespace backupcmd
