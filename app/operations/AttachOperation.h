// Attaching a database's files under a name: the plan from the server's answers (which server wrote
// the files, what the edition allows, the further data files the primary names, an older database
// of the name and who is inside it), the alternative plan that attaches copies made for the server,
// and the outcome by the server's word.
//
//   ops::attach::Planned planned = ops::attach::plan({name, mdf, ldf}, server);
//   if (!planned.plan.stop.isEmpty()) ... tell it, nothing is sent ...
//   const ops::Plan copies = ops::attach::ofCopies(planned, {name, mdfCopy, ldfCopy}, copied);
//   ... confirm the plan chosen, make its copies, ops::run(chosen, ...), ops::attach::outcome(...) ...
#pragma once

#include "DatabaseOperations.h"
#include "Plan.h"

#include <QString>
#include <QStringList>

class AdoQuery;

namespace ops::attach {

struct Request {
    QString database;
    QString mdf; // the primary data file, as the server names it
    QString ldf; // the log; empty: the data file alone, and the server builds a new log
};

struct Planned {
    // The attach of the files as named; its `stop` set when a check refuses it before anything is
    // sent (the edition's cap, a newer server's files, 2000's files on 2012 and later).
    Plan plan;
    Request request;
    // The older database of the name, its files as the server keeps them (the primary first), read
    // before anything is sent so that a failed attach can put it back; empty when there is none.
    QStringList olderFiles;
    // Files an older server wrote, which the attach upgrades in place for good: what the user is
    // told before being asked; empty otherwise.
    QString upgrade;
    // The data files beyond the primary that it names, where the server could read it; a copy of
    // the database copies them too.
    QStringList further;
};

// Throws DbError only when the older database's file list cannot be read (nothing is then sent: a
// failed attach could not put it back). A server that will not answer a check is not refused for
// it: the attach meets what it meets.
Planned plan(const Request& request, Server& server);

// The same attach of copies made for the server (`copied`: the data file's, the log's when the
// request names one, then the further data files', each with its source): a whole plan of its own,
// whose statement names the copies and whose `copies` are made before it runs.
Plan ofCopies(const Planned& planned, const Request& copies, const QList<FileCopy>& copied);

// The journal's entry for a copy of the plan's: written before the copy is made.
JournalEntry copyEntry(const Plan& plan, const FileCopy& copy);

// Done when the database of the name has the plan's primary file; not done when there is none, or
// it is the older one put back. Unknown when the server cannot be asked.
Outcome outcome(const Plan& plan, Server& server);

// The paths of a database's files as the server keeps them, the primary data file first (the log
// files alone with logOnly). Throws DbError.
QStringList databaseFiles(AdoQuery& query, const QString& database, bool is2000, bool logOnly = false);

} // namespace ops::attach
