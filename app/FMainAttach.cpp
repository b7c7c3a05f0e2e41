// Attach page: a data file and a log file attached under a name, an older database of that name
// detached first.
#include "FMain.h"

#include "AccessDenied.h"
#include "ArrivedOffer.h"
#include "DisconnectOthers.h"
#include "ErrorAdvice.h"
#include "FileChecks.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "OperationPlan.h"
#include "ServerState.h"
#include "SharedCopy.h"
#include "SqlQuote.h"
#include "UserAccessNote.h"
#include "ui_FMain.h"

namespace {

// The server answered the statement with a refusal of its own (a message number, the link held):
// nothing was attached.
bool refusedByServer(const DbError& e) {
    if (e.endedConnection())
        return false;
    bool refused = false;
    for (const DbError::Record& r : e.records()) {
        if (r.state.startsWith(QLatin1String("08")))
            return false;
        refused = refused || r.native > 0;
    }
    return refused;
}

} // namespace

void TMain::SpeedButton2Click() {
    // A server that sees none of this computer's files (a container, another machine) offers its
    // own: a file chosen here would mean nothing to it.
    if (!serverSeesThisComputer()) {
        const QString chosen =
            pickServerFile(QStringLiteral("Файл бази даних на сервері"), {QStringLiteral("mdf")}, ui->edPathMDF->text());
        if (!chosen.isEmpty())
            ui->edPathMDF->setText(chosen);
        return;
    }
    const QString chosen = OpenDialog1.execute(
        QStringLiteral("*.mdf"), QStringLiteral("Файли бази даних (*.MDF)|*.mdf|Всі файли (*.*)|*.*"),
        ui->edPathMDF->text());
    if (chosen.isEmpty())
        return;
    ui->edPathMDF->setText(chosen);
    // The dialog left the working directory at the chosen file's folder.
    const QString log = filechecks::firstMatchingEntry(QStringLiteral("."), QStringLiteral("*.ldf"));
    if (!log.isEmpty())
        ui->edPathLDF->setText(filechecks::folderPrefix(ui->edPathMDF->text()) + log);
}

void TMain::SpeedButton3Click() {
    if (!serverSeesThisComputer()) {
        const QString chosen =
            pickServerFile(QStringLiteral("Файл журналу на сервері"), {QStringLiteral("ldf")}, ui->edPathLDF->text());
        if (!chosen.isEmpty())
            ui->edPathLDF->setText(chosen);
        return;
    }
    const QString chosen = OpenDialog1.execute(
        QStringLiteral("*.ldf"), QStringLiteral("Файли журналу бази даних (*.LDF)|*.ldf|Всі файли (*.*)|*.*"),
        ui->edPathLDF->text());
    if (!chosen.isEmpty())
        ui->edPathLDF->setText(chosen);
}

void TMain::BitBtn1Click() {
    AttachDatabase(ui->cbDatabase->text(), ui->edPathMDF->text(), ui->edPathLDF->text());
}

bool TMain::AttachDatabase(const QString& Name, const QString& MdfPath, const QString& LdfPath) {
    if (!connectedOrConnect())
        return false;
    // The server opens the files, so the server says whether they are there: a path this computer
    // cannot see may be the server's own, and one it sees may be closed to the server.
    serverfiles::ServerFiles files = serverFiles();
    OperationPlan plan = newPlan(OperationPlan::Kind::Attach, Name);
    plan.read(MdfPath);
    askServerAbout(plan, files);
    if (plan.files.first().reach == Reach::Unknown && !filechecks::fileExists(MdfPath))
        return false;
    const QString logPath =
        fileSeen(files, LdfPath)
            ? LdfPath
            : filechecks::folderPrefix(MdfPath) + filechecks::trimmed(Name) + QLatin1String("_Log.LDF");
    // Naming a log file that is not there makes every server refuse the attach. Without one the
    // data file is attached alone and the server builds a new log, which it can do for a database
    // that was shut down cleanly and had a single log file; where it puts it is its own choice.
    bool withoutLog = !fileSeen(files, logPath);
    if (!withoutLog)
        plan.read(logPath);
    else if (logPath != LdfPath && filechecks::fileExists(LdfPath))
        // The log this computer sees and the server does not: the user is told of it too, rather
        // than have the database attached without it.
        plan.read(LdfPath);
    if (plan.files.size() > 1)
        askServerAbout(plan, files);

    const auto attachStatement = [&](const QString& mdf, const QString& ldf, const QStringList& further = {}) {
        QStringList lines;
        lines << QLatin1String("CREATE DATABASE ") + sqlquote::name(Name);
        QString data = QLatin1String("ON PRIMARY (FILENAME = ") + sqlquote::literal(mdf) + QLatin1Char(')');
        for (const QString& f : further)
            data += QLatin1String(", (FILENAME = ") + sqlquote::literal(f) + QLatin1Char(')');
        lines << data;
        if (!withoutLog)
            lines << QLatin1String("LOG ON (FILENAME = ") + sqlquote::literal(ldf) + QLatin1Char(')');
        lines << QStringLiteral("FOR ATTACH");
        return lines;
    };
    QStringList statement = attachStatement(MdfPath, logPath);
    plan.statements = {statement.join(QLatin1String("\r\n"))};
    // Copies of the files, when the user chose to attach those: removed when the attach fails.
    std::vector<std::unique_ptr<SharedCopy>> copies;
    QString attachedMdf = MdfPath;
    // A log only this computer sees goes with the data file when the files are copied for the server.
    QString attachedLdf = !withoutLog ? logPath : plan.files.size() > 1 ? LdfPath : QString();
    offerAttachCopy(plan, files, attachedMdf, attachedLdf, copies);
    // An older database of the name is detached first: whoever is inside it is named and put out
    // on Yes, as for a detach.
    if (ADOConnection->isOpen() && DatabaseExists(Name)) {
        plan.statements.prepend(QLatin1String("EXEC sp_detach_db ") + sqlquote::literal(Name) +
                                QLatin1String(", 'true'"));
        askWhoElseIsInside(plan, QStringLiteral("Замінити"));
    }
    if (!confirmPlan(plan))
        return false;
    if (!checkAttachFiles(plan, attachedMdf, attachedLdf, copies))
        return false;
    if (!copies.empty()) {
        withoutLog = attachedLdf.isEmpty();
        // The copies of further data files follow the data file's and the log's.
        QStringList furtherCopies;
        for (size_t i = attachedLdf.isEmpty() ? 1 : 2; i < copies.size(); ++i)
            furtherCopies << copies[i]->path();
        statement = attachStatement(attachedMdf, attachedLdf, furtherCopies);
        plan.statements.last() = statement.join(QLatin1String("\r\n"));
    }
    // The files a failure message may name: the ones the statement names.
    const QStringList named =
        copies.empty() ? QStringList{MdfPath, logPath} : QStringList{attachedMdf, attachedLdf};
    // Errors of the existence test and the file list end the handler in the plain error box. The
    // old database's files are read first so that a failed attach can put it back.
    QStringList oldFiles;
    if (DatabaseExists(Name)) {
        oldFiles = databaseFiles(Name);
        if (oldFiles.isEmpty())
            throw DbError(QStringLiteral("Не вдалося прочитати, які файли має база даних %1, тому її не "
                                         "від'єднано і нічого не приєднано")
                              .arg(Name));
        // The server may have detached it before the failure reached us (a link lost after the
        // detach): from here every failure goes through the put-back, which asks the server first.
        try {
            runPuttingOthersOut(plan, [&] { return DetachDatabase(Name); });
        } catch (const DbError& e) {
            // Refused, and the database is there as it was: the plain error, nothing to put back.
            bool untouched = false;
            try {
                untouched = DatabaseExists(Name) && databaseFiles(Name) == oldFiles;
            } catch (const DbError&) {
            }
            if (untouched)
                throw;
            reportFileFailure(e, QStringLiteral("Не можливо підключити фізичний файл "), named,
                              putBackDatabase(Name, oldFiles, !plan.othersInside.isEmpty()));
            return false;
        }
    }

    ADOQuery1->close();
    ADOQuery1->setLines(statement);
    longop::Operation attaching = longop::attach(Name);
    attaching.ask = [this, &Name] {
        return serverstate::database(*ADOQuery1, Name) == serverstate::Database::Missing
                   ? longop::Left::NotDone
                   : longop::Left::Done;
    };
    // Whatever ends the attach but success (its error, a cancel, a lost link, a fault of ours)
    // attaches the old database again from the files read before the detach, or names them.
    const auto putBack = [&] {
        return oldFiles.isEmpty() ? QString() : putBackDatabase(Name, oldFiles, !plan.othersInside.isEmpty());
    };
    const auto afterword = [](const QString& text) {
        return text.isEmpty() ? text : QLatin1Char('\n') + text;
    };
    // The copies go only when the server surely did not attach them: after any other ending they
    // may be the database's files now. Asked before the old database is put back under the name.
    const auto keptCopies = [&](bool notAttached) {
        if (copies.empty() || notAttached)
            return QString();
        QStringList paths;
        for (const auto& copy : copies) {
            copy->keep();
            paths << copy->path();
        }
        return QStringLiteral("Сервер міг приєднати копії файлів, тому їх не вилучено: %1.")
            .arg(paths.join(QLatin1String(", ")));
    };
    const auto surelyMissing = [&] {
        try {
            return serverstate::database(*ADOQuery1, Name) == serverstate::Database::Missing;
        } catch (const DbError&) {
            return false;
        }
    };
    const auto joined = [](const QString& a, const QString& b) {
        return a.isEmpty() ? b : b.isEmpty() ? a : a + QLatin1Char('\n') + b;
    };
    try {
        longop::run(this, *ADOQuery1, attaching);
    } catch (const DbError& e) {
        // A data file alone is judged by the result, not by the messages: a server may send the new
        // log's notice as an error although the database was attached.
        bool attachedAfterAll = false;
        if (withoutLog) {
            try {
                attachedAfterAll = DatabaseExists(Name);
            } catch (const DbError&) {
            }
        }
        // Refused a file (error 5), and no older database detached for it: planned again, the same
        // offer as the checks'.
        if (!attachedAfterAll && oldFiles.isEmpty() && copies.empty())
            if (const auto again = deniedByServer(e, named))
                return AttachDatabase(Name, MdfPath, LdfPath);
        if (!attachedAfterAll) {
            // A refusal of the server's leaves nothing attached; a lost link leaves it to the server.
            const QString kept = keptCopies(refusedByServer(e) || surelyMissing());
            // Why a data file alone could not be attached is told by the advice line of its error.
            reportFileFailure(e, QStringLiteral("Не можливо підключити фізичний файл "), named,
                              joined(kept, putBack()));
            return false;
        }
    } catch (OperationCancelled& cancelled) {
        const QString kept = keptCopies(cancelled.message == attaching.notDone);
        cancelled.message += afterword(joined(kept, putBack()));
        throw;
    } catch (const std::exception& e) {
        const QString kept = keptCopies(false);
        reportFileFailure(DbError(QString::fromLocal8Bit(e.what())),
                          QStringLiteral("Не можливо підключити фізичний файл "), named, joined(kept, putBack()));
        return false;
    }
    for (const auto& copy : copies)
        copy->keep(); // the database's own files now
    QString done =
        QStringLiteral("База даних ") + Name + QStringLiteral(" успішно приєднана із файлу ") + attachedMdf;
    if (!copies.empty())
        done += QLatin1Char('\n') +
                QStringLiteral("Приєднано копію файлів; файли %1 залишилися як були.").arg(MdfPath);
    if (withoutLog) {
        // The server tells where it built the log only in a message meant for people: the file
        // list says it in every language.
        // The database is attached whatever this read comes to: a failed read only leaves the path out.
        QStringList logs;
        try {
            logs = databaseFiles(Name, FileKinds::LogOnly);
        } catch (const DbError&) {
        }
        done += QLatin1Char('\n') + (logs.isEmpty()
                                         ? QStringLiteral("Файлу журналу не було; сервер створив новий.")
                                         : QStringLiteral("Файлу журналу не було; сервер створив новий: %1.")
                                               .arg(logs.join(QLatin1String(", "))));
    }
    if (!oldFiles.isEmpty() && !plan.othersInside.isEmpty())
        done += QLatin1Char('\n') + useraccessnote::olderDetached(Name);
    // Files detached single-user come back single-user: the user is told, the mode left as it is.
    // The database is attached whatever this read comes to: a failed read only leaves the line out.
    QString access;
    try {
        access = useraccessnote::read(*ADOQuery1, Name);
    } catch (const DbError&) {
    }
    const QString accessLine = useraccessnote::afterAttach(Name, access);
    if (!accessLine.isEmpty())
        done += QLatin1Char('\n') + accessLine;
    // Users and an owner from another server are told, and mending them offered.
    arrivedoffer::tell(*ADOQuery1, ADOConnection->serverMajorVersion(), Name, done);
    return true;
}

// Operating-system error 5 gets our own message naming the file the server was refused (any of the
// statement's files); any other failure is shown in the server's words with the single Cancel
// button. An afterword, when given, follows on a line of its own.
void TMain::reportFileFailure(const DbError& error, const QString& cannotText, const QStringList& paths,
                              const QString& afterword) {
    const QString tail = afterword.isEmpty() ? QString() : QLatin1Char('\n') + afterword;
    const QString refused = accessdenied::refusedPath(error.message(), paths);
    if (!refused.isEmpty())
        modal::messageDialog(cannotText + refused + QLatin1Char('.') + QChar(13) +
                                 QStringLiteral("Помилка операційної системи 5: (Доступ заборонений.)") +
                                 tail,
                             DialogType::Error, {DialogButton::OK});
    else
        modal::messageDialog(erroradvice::appended(error) + tail, DialogType::Error, {DialogButton::Cancel});
}

QStringList TMain::databaseFiles(const QString& Name, FileKinds kinds) {
    // SQL Server 2000 keeps the files of every database in master's sysaltfiles; later versions in
    // sys.master_files.
    const bool is2000 = serverIs2000();
    ADOQuery1->close();
    ADOQuery1->setText(
        is2000
            ? QLatin1String("SELECT fileid, groupid, name, filename FROM master.dbo.sysaltfiles WHERE dbid = "
                            "DB_ID(") +
                  sqlquote::literal(Name) + QLatin1String(") ORDER BY fileid")
            : QLatin1String("SELECT file_id, type, name, physical_name FROM sys.master_files WHERE "
                            "database_id = DB_ID(") +
                  sqlquote::literal(Name) + QLatin1String(") ORDER BY file_id"));
    ADOQuery1->openRowset();
    QStringList files;
    const QString column = is2000 ? QStringLiteral("filename") : QStringLiteral("physical_name");
    for (ADOQuery1->first(); !ADOQuery1->atEnd(); ADOQuery1->next()) {
        // A log file is in no filegroup (2000); its type is 1 (later versions).
        const bool log = is2000 ? ADOQuery1->field(QStringLiteral("groupid")).toInt() == 0
                                : ADOQuery1->field(QStringLiteral("type")).toInt() == 1;
        if (kinds == FileKinds::LogOnly && !log)
            continue;
        // 2000 pads the name with blanks to its nchar(260) width.
        QString path = ADOQuery1->field(column);
        while (path.endsWith(QLatin1Char(' ')))
            path.chop(1);
        files.append(path);
    }
    ADOQuery1->close();
    return files;
}

QString TMain::putBackDatabase(const QString& Name, const QStringList& files, bool letEveryoneIn) {
    // The server says first whether the old database is still there (a detach cut off before it
    // ran); asking opens the connection again after a lost link.
    try {
        if (DatabaseExists(Name) && databaseFiles(Name) == files)
            return QStringLiteral("Базу даних %1 не від'єднано: вона залишилася на сервері.").arg(Name);
    } catch (const DbError&) {
        return QStringLiteral("Сервер не відповів, чи залишилася на ньому попередня база даних %1; якщо її "
                              "немає у списку баз даних, приєднайте її файли вручну: %2.")
            .arg(Name, files.join(QLatin1String(", ")));
    }
    QStringList specs;
    for (const QString& f : files)
        specs.append(QLatin1String("(FILENAME = ") + sqlquote::literal(f) + QLatin1Char(')'));
    try {
        ADOQuery1->close();
        ADOQuery1->setText(QLatin1String("CREATE DATABASE ") + sqlquote::name(Name) + QLatin1String(" ON ") +
                           specs.join(QLatin1String(", ")) + QLatin1String(" FOR ATTACH"));
        ADOQuery1->execute();
    } catch (const DbError&) {
        return QStringLiteral("Попередню базу даних %1 не вдалося приєднати знову; приєднайте її файли "
                              "вручну: %2.")
            .arg(Name, files.join(QLatin1String(", ")));
    }
    if (letEveryoneIn) {
        try {
            ADOQuery1->close();
            ADOQuery1->setText(disconnectothers::multiUser(Name));
            ADOQuery1->execute();
        } catch (const DbError& e) {
            return QStringLiteral("Попередню базу даних %1 приєднано знову, але вона залишилася доступною лише "
                                  "одному з'єднанню: сервер не виконав %2 (%3). Виконайте цю інструкцію, коли "
                                  "сервер буде доступний.")
                .arg(Name, disconnectothers::multiUser(Name), e.message());
        }
    }
    return QStringLiteral("Попередню базу даних %1 приєднано знову.").arg(Name);
}

bool TMain::DatabaseExists(const QString& Name) {
    ADOConnection->setDefaultDatabase(QStringLiteral("master"));
    if (!connectedOrConnect())
        return false;
    useMaster();
    // sysdatabases answers on every version; INFORMATION_SCHEMA.SCHEMATA lists databases on 2000 only.
    ADOQuery1->setText(QLatin1String("SELECT name FROM master.dbo.sysdatabases WHERE name = ") +
                       sqlquote::literal(Name));
    ADOQuery1->openRowset();
    const bool exists = ADOQuery1->rowCount() >= 1;
    ADOQuery1->close();
    return exists;
}

bool TMain::DetachDatabase(const QString& Name) {
    ADOConnection->setDefaultDatabase(QStringLiteral("master"));
    if (!connectedOrConnect())
        return false;
    ADOQuery1->setText(QLatin1String("EXEC sp_detach_db ") + sqlquote::literal(Name) +
                       QLatin1String(", 'true'"));
    ADOQuery1->execute();
    return true;
}
