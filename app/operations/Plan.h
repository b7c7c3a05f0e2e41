// What one operation will do, as a plain value built from the server's answers: what it touches,
// what was found, the question to ask, the alternatives on offer, the exact statements in the order
// they are sent (and the put-back sent when one of them fails), and what it leaves outside the
// server while it runs. The window shows it; the runner sends exactly it.
#pragma once

#include "Journal.h"
#include "ServerQuestions.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

namespace ops {

enum class Kind { Attach, Detach, Drop, Restore, Backup, FileList, OpenToAll, ArrivedUsers, ArrivedOwner };

// How a statement is waited for: a short one as any round trip; a long one as a long operation
// (the progress dialog, the server's percentages, Cancel sending the driver's cancel).
enum class Pace { Short, Long };

struct Statement {
    // Written as {text, pace} as before; a statement that carries a password gives its masked text too.
    Statement(QString text = {}, Pace pace = Pace::Short, QString masked = {})
        : text(std::move(text)), pace(pace), masked(std::move(masked)) {}
    QString text;
    Pace pace = Pace::Short;
    // A put-back statement sent only when the plan's statement of this index was sent (what it gives
    // back is taken by that one, which may have gone through); -1: sent whenever the put-back is.
    int onlyAfter = -1;
    // The text as shown and as the server's log keeps it when the statement carries a password
    // (stars in its place); empty when it is the text itself.
    QString masked;
    // Its answer is rows the caller reads once it has run (a backup's file list): the runner
    // leaves them on the statement object.
    bool rowset = false;
    bool operator==(const Statement& o) const { return text == o.text && pace == o.pace; }
    const QString& shownText() const { return masked.isEmpty() ? text : masked; }
};

// A file copied for the server before the first statement: the statements name `path`, never
// `source`. Written in the journal before it is made.
struct FileCopy {
    QString source;
    QString path;
};

struct Plan;
// An alternative the user is offered instead of the plan (a copy where the server cannot open the
// files): a whole plan of its own, made before anything is asked, never an edit of this one.
struct Remedy {
    QString offer; // the question's words: "Приєднати копію…?"
    std::shared_ptr<const Plan> plan;
};

struct Plan {
    Kind kind = Kind::Detach;
    QString server;              // the server as the connection fields name it
    QString database;            // the database it changes
    bool databaseExists = false; // as the server said while planning
    QStringList touches;         // the databases and files it changes, as the user reads them
    QStringList findings;        // what the checks found, one line each
    QString question;            // the Yes/No the confirmation asks
    QList<serverquestions::Session> othersInside; // the sessions Yes puts out
    std::vector<Remedy> remedies;
    QList<Statement> statements; // sent in this order, each only once the one before succeeded
    // Sent in this order when a statement fails after the first of `leaves` was written down: the
    // server is given back what the operation took (SET MULTI_USER). Each is tried even when one
    // before it failed.
    QList<Statement> putBack;
    // What the operation leaves outside the server while it runs (the single-user setting): each
    // is written to the journal before the first statement and crossed out when taken back.
    QList<JournalEntry> leaves;
    // What a check found that stops the operation before anything is sent (no room, a path the
    // server may not write, the edition's cap, a newer server's files), in the words the user is
    // told; the statements are then shown and never run, unless a remedy is taken instead.
    QString stop;
    // backup: the file the server writes (the chosen one, or a new one in the shared folder).
    QString writesTo;
    // Copies made for the server before the first statement (the copy remedy's plan).
    QList<FileCopy> copies;
    // The statement that makes what `leaves` lists (SINGLE_USER after a restore's verification):
    // they are written down right before it, and put back only once it was sent.
    int leavesFrom = 0;

    // The T-SQL the confirmation shows: the statements, then the put-back under a comment line
    // that says when it is sent. Exactly what the runner may send, in its order.
    QString shown() const;
    QStringList texts() const;
    QStringList putBackTexts() const;
};

// The comment line the shown T-SQL puts above the put-back.
QString putBackComment();

} // namespace ops
