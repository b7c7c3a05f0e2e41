// One run of zelvaro-backup: connects, backs every asked database up into a new file, verifies it,
// gives it its backup name, and only then deletes that database's older verified backups beyond
// the number to keep.
#pragma once

#include "Options.h"

#include <QString>

#include <cstdio>

namespace backupcmd {

// The exit statuses, also listed in the manual page and in --help.
enum Status {
    AllVerified = 0,
    SomeFailed = 1,  // a database not backed up or not verified (or none to back up)
    BadSettings = 2, // options, configuration or password file
    NoServer = 3,    // no connection (the server not reached, or the login refused), or no list of databases
    OldKept = 4,     // all backed up and verified, but some old backups could not be deleted
    Stalled = 5,     // the server reported no progress for --time-limit: cancelled, the rest not begun
};

struct Output {
    std::FILE* lines = stdout;     // one line per database
    std::FILE* messages = stderr;  // errors with their advice, and progress
    bool progress = false;         // percentages on `messages` (a terminal)
};

// Runs the whole job; returns its exit status.
int runBackups(const Options& options, const QString& password, const Output& output);

} // namespace backupcmd
