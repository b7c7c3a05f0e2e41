// What one operation that changes the server touches, built from the server's answers right before
// it runs: the page builds it, the confirmation shows it, and only then is the statement sent.
#pragma once

#include "ServerFiles.h"
#include "ServerQuestions.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// How a statement uses one of the paths it names.
enum class FileUse {
    Read,     // a file the server opens: a database file to attach, a backup to read
    CreateIn, // a folder the server creates files in: a restore's targets
    Write,    // a file the server writes: a backup's target (its folder must be there)
};

// Whether the server reaches a path the way the statement needs it. Unknown: the server would not
// say (an old build without the procedure, a login that gets only zeros back), and this computer's
// view is all there is.
enum class Reach { Unknown, Reached, Refused };

struct PlannedFile {
    QString path;
    FileUse use = FileUse::Read;
    Reach reach = Reach::Unknown;
    // Refused: the deepest folder on the way the server sees, and the part after it it does not.
    QString lastSeenFolder;
    QString unseenPart;
    // Refused although the server sees the path: the folder or file whose mode or ACL keeps the
    // server's account out (a server on this computer; see ServerAccountReach.h).
    QString closedBy;
    // Refused because the server answered a statement naming closedBy with operating-system error 5.
    bool deniedByServer = false;
};

// What a user who can fix a refused path is offered instead of a plain refusal: its text ends the
// refusal as a question, and Yes runs `apply`, which may change the plan's paths and statement
// (false: it did not work, and nothing is sent).
struct PlanRemedy {
    QString offer;
    std::function<bool(struct OperationPlan&)> apply;
};

struct OperationPlan {
    enum class Kind { Attach, Detach, Drop, Restore, Backup, FileList };
    Kind kind = Kind::Restore;
    QString server;   // the server the connection fields name
    QString database; // the database it creates, replaces, detaches or drops
    bool replacesDatabase = false;
    QList<PlannedFile> files; // every path the statement names, as the server sees each
    QStringList writes;       // every file it writes
    QStringList othersFiles;  // files among them that lie there already and are not the database's
                              // own: the user did not name them to be overwritten
    // Who the server runs as, where this computer can tell; the words for the unknown otherwise.
    QString serverAccount = defaultAccount();
    qint64 serverUid = -1; // the account's uid on this computer; -1 when it is not known
    QStringList statements; // the exact T-SQL, in the order it is sent
    QString question;       // a Yes/No question the operation asks anyway (detach, drop)
    // What the checks before the operation found: lines the one confirmation shows above its
    // question (somebody inside the database, a version upgrade, another collation). Any line makes
    // the operation ask, even one that asks nothing otherwise.
    QStringList findings;
    // What a check found that stops the operation (no room, the edition's cap, a newer server's
    // backup), with "nothing was sent"; the user is told and nothing is sent.
    QString stop;
    PlanRemedy remedy;      // empty until a remedy is known for what was refused
    // What the remedy set up and must last as long as the operation (a grant taken back when the
    // plan goes).
    std::vector<std::shared_ptr<void>> kept;

    static QString defaultAccount();

    void read(const QString& path) { add(path, FileUse::Read); }
    void createIn(const QString& folder) {
        for (const PlannedFile& f : files)
            if (f.use == FileUse::CreateIn && f.path == folder)
                return;
        add(folder, FileUse::CreateIn);
    }
    void write(const QString& path) { add(path, FileUse::Write); }
    void add(const QString& path, FileUse use) {
        PlannedFile f;
        f.path = path;
        f.use = use;
        files.append(f);
    }

    // Asks the server about every file of the plan (each folder once).
    void askServer(serverfiles::ServerFiles& server);
    bool refused() const;
    // The refused paths of that use.
    QStringList refusedPaths(FileUse use) const;
    bool anyUnknown() const;
    // What the user is told when the server cannot reach a path: which path, which folder on the
    // way it does not get past, who it runs as, and that nothing was sent. Empty when nothing is
    // refused.
    QString refusal() const;

    // The Yes/No question about what the user did not name; empty when there is nothing to ask.
    QString restoreConfirmation() const;
    // The one confirmation's text: the findings, the operation's own question, the overwrite
    // question; empty when there is nothing to ask.
    QString confirmation() const;
    // The statements as the confirmation's T-SQL section shows them, one after another.
    QString shownStatements() const;

    // attach, detach, drop
    // The other sessions inside the database when the plan was made: Yes puts them out first
    // (statements then begins with SINGLE_USER WITH ROLLBACK IMMEDIATE).
    QList<serverquestions::Session> othersInside;
};
