// What the messages of attach and detach say about a database's user access (SINGLE_USER,
// RESTRICTED_USER, MULTI_USER). The server keeps it in the database's own files, so files detached
// after Zelvaro put the others out with SINGLE_USER come back single-user when attached. Zelvaro
// only tells; opening the database to everybody is the user's choice.
#pragma once

#include <QString>

class AdoQuery;

namespace useraccessnote {

// The database's user access as the server names it ("SINGLE_USER" …); DATABASEPROPERTYEX answers
// on every version from 2000 on. Empty when the server does not say. Throws DbError.
QString read(AdoQuery& query, const QString& database);

// The attach message's line for a database that is not MULTI_USER; empty for MULTI_USER or nothing.
QString afterAttach(const QString& database, const QString& access);

// The detach's success message when Zelvaro put the others out with SINGLE_USER first.
QString afterDetach(const QString& database);

// The attach's line for the older database of the name, detached after the others were put out.
QString olderDetached(const QString& database);

} // namespace useraccessnote
