// Attaching a database's files (AttachOperation.h).
#include "AttachOperation.h"

#include "AdoConnection.h"
#include "AdoQuery.h"
#include "DatabaseFileVersion.h"
#include "DbError.h"
#include "ServerQuestions.h"
#include "SingleUser.h"
#include "SqlQuote.h"

#include <QFileInfo>

namespace ops::attach {

namespace {

QString megabytes(qint64 bytes) {
    return QString::number((bytes + 1024 * 1024 - 1) / (1024 * 1024));
}

QString nothingSent() {
    return QStringLiteral("\nСерверу нічого не надіслано.");
}

// CREATE DATABASE … FOR ATTACH naming every file: the primary, the further data files, the log.
// Without a log the data file is attached alone and the server builds a new log, which it can do
// for a database that was shut down cleanly and had a single log file.
QString attachStatement(const QString& name, const QString& mdf, const QString& ldf,
                        const QStringList& further) {
    QStringList lines;
    lines << QLatin1String("CREATE DATABASE ") + sqlquote::name(name);
    QString data = QLatin1String("ON PRIMARY (FILENAME = ") + sqlquote::literal(mdf) + QLatin1Char(')');
    for (const QString& f : further)
        data += QLatin1String(", (FILENAME = ") + sqlquote::literal(f) + QLatin1Char(')');
    lines << data;
    if (!ldf.isEmpty())
        lines << QLatin1String("LOG ON (FILENAME = ") + sqlquote::literal(ldf) + QLatin1Char(')');
    lines << QStringLiteral("FOR ATTACH");
    return lines.join(QLatin1String("\r\n"));
}

// The older database attached again from the files read before its detach.
QString putBackStatement(const QString& name, const QStringList& files) {
    QStringList specs;
    for (const QString& f : files)
        specs << QLatin1String("(FILENAME = ") + sqlquote::literal(f) + QLatin1Char(')');
    return QLatin1String("CREATE DATABASE ") + sqlquote::name(name) + QLatin1String(" ON ") +
           specs.join(QLatin1String(", ")) + QLatin1String(" FOR ATTACH");
}

// The statements of an attach of these files under the planned name: an older database of the
// name detached first (its others put out before), and given back when the attach fails.
Plan build(const Planned& planned, const Plan& base, const QString& mdf, const QString& ldf,
           const QStringList& further) {
    Plan plan = base;
    const QString& name = planned.request.database;
    plan.statements = {{attachStatement(name, mdf, ldf, further), Pace::Long}};
    plan.putBack.clear();
    plan.leaves.clear();
    if (planned.olderFiles.isEmpty())
        return plan;
    plan.statements.prepend(
        {QLatin1String("EXEC sp_detach_db ") + sqlquote::literal(name) + QLatin1String(", 'true'"),
         Pace::Short});
    // The detach's index once SINGLE_USER goes first: the older database is attached again only
    // when the detach was sent (a refused one leaves it in place, and its put-back fails harmlessly).
    const int detach = plan.othersInside.isEmpty() ? 0 : 1;
    Statement again{putBackStatement(name, planned.olderFiles), Pace::Short};
    again.onlyAfter = detach;
    if (!plan.othersInside.isEmpty())
        singleuser::putOthersOut(plan); // SINGLE_USER first, MULTI_USER as the put-back
    // Files detached single-user come back single-user: the older database is opened to everybody
    // again after it is attached, as it was.
    plan.putBack.prepend(again);
    JournalEntry detached;
    detached.kind = JournalEntry::Kind::Detached;
    detached.server = plan.server;
    detached.database = name;
    detached.path = planned.olderFiles.join(QLatin1Char('\n'));
    plan.leaves << detached;
    return plan;
}

// The checks of the files themselves: the edition's cap, which server wrote them, the further data
// files the primary names. A server that will not say stops nothing.
void checkFiles(Planned& planned, Server& server, const serverquestions::ServerVersion& version,
                const serverquestions::Edition& edition) {
    Plan& plan = planned.plan;
    const QString& mdf = planned.request.mdf;
    // The cap first: nothing is copied for an attach the edition would refuse anyway.
    if (edition.express()) {
        qint64 data = fileversion::dataBytes(server.query, mdf);
        if (data < 0 && QFileInfo::exists(mdf))
            data = QFileInfo(mdf).size();
        if (data > edition.capMB * 1024 * 1024) {
            plan.stop =
                QStringLiteral("Сервер %1 — це %2: одна база даних може мати на ньому не більше %3 МБ "
                               "даних, а файли даних бази %4 мають %5 МБ. Сервер відмовив би "
                               "(помилка 1827).")
                    .arg(plan.server, edition.name, QString::number(edition.capMB), plan.database,
                         megabytes(data)) +
                nothingSent();
            return;
        }
    }
    const QString serverRelease = fileversion::serverName(fileversion::writtenBy(version));
    const int fileVersion = fileversion::ofPrimaryFile(server.query, mdf);
    const QString wroteIt = fileversion::serverName(fileVersion);
    switch (fileversion::verdict(fileVersion, version)) {
    case fileversion::Verdict::Newer:
        plan.stop =
            QStringLiteral("Файли бази даних %1 записав %2 (версія файлів %3), а сервер %4 — це %5 (версія "
                           "%6). Старіший сервер не може відкрити файли новішого, і перетворити їх назад "
                           "неможливо: приєднайте їх на сервері %2 або новішому.")
                .arg(mdf, wroteIt, QString::number(fileVersion), plan.server, serverRelease,
                     QString::number(fileversion::writtenBy(version))) +
            nothingSent();
        return;
    case fileversion::Verdict::TooOld:
        plan.stop =
            QStringLiteral("Файли бази даних %1 записав %2 (версія файлів %3), а сервер %4 — це %5: він не "
                           "вміє оновлювати файли SQL Server 2000 (помилка 950). Приєднайте їх спершу на "
                           "SQL Server 2005, 2008 або 2008 R2, а потім перенесіть базу даних сюди.")
                .arg(mdf, wroteIt, QString::number(fileVersion), plan.server, serverRelease) +
            nothingSent();
        return;
    case fileversion::Verdict::Upgraded:
        planned.upgrade =
            QStringLiteral("Файли бази даних %1 записав %2 (версія файлів %3). Під час приєднання "
                           "сервер %4 (%5) оновить їх на місці назавжди: %2 більше ніколи не зможе "
                           "їх відкрити.")
                .arg(mdf, wroteIt, QString::number(fileVersion), plan.server, serverRelease);
        break;
    case fileversion::Verdict::Same:
        break;
    }
    // A copy of the database copies every file the primary names where they lay when it was detached.
    if (fileVersion > 0)
        planned.further = fileversion::furtherDataFiles(server.query, mdf);
}

} // namespace

QStringList databaseFiles(AdoQuery& query, const QString& database, bool is2000, bool logOnly) {
    // SQL Server 2000 keeps the files of every database in master's sysaltfiles; later versions in
    // sys.master_files.
    query.close();
    query.setText(
        is2000 ? QLatin1String("SELECT fileid, groupid, name, filename FROM master.dbo.sysaltfiles WHERE "
                               "dbid = DB_ID(") +
                     sqlquote::literal(database) + QLatin1String(") ORDER BY fileid")
               : QLatin1String("SELECT file_id, type, name, physical_name FROM sys.master_files WHERE "
                               "database_id = DB_ID(") +
                     sqlquote::literal(database) + QLatin1String(") ORDER BY file_id"));
    query.openRowset();
    QStringList files;
    const QString column = is2000 ? QStringLiteral("filename") : QStringLiteral("physical_name");
    for (query.first(); !query.atEnd(); query.next()) {
        // A log file is in no filegroup (2000); its type is 1 (later versions).
        const bool log = is2000 ? query.field(QStringLiteral("groupid")).toInt() == 0
                                : query.field(QStringLiteral("type")).toInt() == 1;
        if (logOnly && !log)
            continue;
        // 2000 pads the name with blanks to its nchar(260) width.
        QString path = query.field(column);
        while (path.endsWith(QLatin1Char(' ')))
            path.chop(1);
        files.append(path);
    }
    query.close();
    return files;
}

Planned plan(const Request& request, Server& server) {
    Planned planned;
    planned.request = request;
    Plan& plan = planned.plan;
    plan.kind = Kind::Attach;
    plan.server = server.name;
    plan.database = request.database;
    plan.touches = {request.database, request.mdf};
    if (!request.ldf.isEmpty())
        plan.touches << request.ldf;
    if (server.connection.isOpen()) {
        server.connection.setDefaultDatabase(QStringLiteral("master"));
        useMaster(server.query);
        plan.databaseExists = databaseExists(server.query, request.database);
    }
    if (plan.databaseExists) {
        const bool is2000 = server.connection.serverMajorVersion() == 8;
        planned.olderFiles = databaseFiles(server.query, request.database, is2000);
        if (planned.olderFiles.isEmpty())
            throw DbError(QStringLiteral("Не вдалося прочитати, які файли має база даних %1, тому її не "
                                         "від'єднано і нічого не приєднано")
                              .arg(request.database));
        // Whoever is inside the older database is named and put out on Yes, as for a detach. A
        // login without the right to see other sessions: the detach meets what it meets.
        try {
            const serverquestions::ServerVersion v = serverquestions::version(server.query);
            plan.othersInside = serverquestions::othersUsing(server.query, v, request.database);
        } catch (const DbError&) {
            plan.othersInside.clear();
        }
        if (!plan.othersInside.isEmpty())
            plan.question =
                singleuser::question(request.database, plan.othersInside, QStringLiteral("Замінити"));
    }
    if (server.connection.isOpen()) {
        try {
            const serverquestions::ServerVersion version = serverquestions::version(server.query);
            const serverquestions::Edition edition = serverquestions::edition(server.query, version);
            checkFiles(planned, server, version, edition);
        } catch (const DbError&) {
            // A server that will not say: the attach meets what it meets.
        }
    }
    plan = build(planned, plan, request.mdf, request.ldf, {});
    return planned;
}

Plan ofCopies(const Planned& planned, const Request& copies, const QList<FileCopy>& copied) {
    QStringList further;
    for (int i = copies.ldf.isEmpty() ? 1 : 2; i < copied.size(); ++i)
        further << copied[i].path;
    Plan plan = build(planned, planned.plan, copies.mdf, copies.ldf, further);
    plan.touches = {planned.request.database};
    for (const FileCopy& c : copied)
        plan.touches << c.path;
    plan.copies = copied;
    plan.stop.clear();
    return plan;
}

JournalEntry copyEntry(const Plan& plan, const FileCopy& copy) {
    JournalEntry entry;
    entry.kind = JournalEntry::Kind::Copy;
    entry.server = plan.server;
    entry.database = plan.database;
    entry.path = copy.path;
    return entry;
}

Outcome outcome(const Plan& plan, Server& server) {
    // The older database put back under the name is no attach: its primary file is the put-back's
    // first FILENAME. The server may spell a path its own way; the older one's it gave us itself.
    QString older;
    for (const Statement& s : plan.putBack)
        if (s.text.startsWith(QLatin1String("CREATE DATABASE ")))
            older = s.text.mid(s.text.indexOf(QLatin1String("(FILENAME = ")));
    try {
        if (!databaseExists(server.query, plan.database))
            return Outcome::NotDone;
        if (older.isEmpty())
            return Outcome::Done;
        const QStringList files =
            databaseFiles(server.query, plan.database, server.connection.serverMajorVersion() == 8);
        if (files.isEmpty())
            return Outcome::Unknown;
        const QString primary =
            QLatin1String("(FILENAME = ") + sqlquote::literal(files.first()) + QLatin1Char(')');
        return older.startsWith(primary) ? Outcome::NotDone : Outcome::Done;
    } catch (const DbError&) {
        return Outcome::Unknown;
    }
}

} // namespace ops::attach
