// What one operation that changes the server touches, built from the server's state right before
// it runs: the page builds it, the confirmation shows it, and only then is the statement sent.
#pragma once

#include <QString>
#include <QStringList>

struct OperationPlan {
    QString server;   // the server the connection fields name
    QString database; // the database it creates or replaces
    bool replacesDatabase = false;
    QStringList writes;      // every file it writes
    QStringList othersFiles; // files among them that lie there already and are not the database's
                             // own: the user did not name them to be overwritten

    // The Yes/No question about what the user did not name; empty when there is nothing to ask.
    QString restoreConfirmation() const;
};
