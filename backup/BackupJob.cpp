#include "BackupJob.h"

#include "AdoConnection.h"
#include "AdoQuery.h"
#include "BackupFiles.h"
#include "BackupOperation.h"
#include "BackupStatements.h"
#include "ConnectionSettings.h"
#include "ErrorAdvice.h"
#include "FileChecks.h"
#include "Pruning.h"
#include "Runner.h"
#include "ServerAnswers.h"
#include "StallGuard.h"
#include "StatementWatch.h"
#include "VerifiedRename.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdlib>

namespace backupcmd {
namespace {

void print(std::FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

QString sizeText(qint64 bytes) {
    if (bytes < 0)
        return QStringLiteral("розмір невідомий");
    if (bytes < 1024 * 1024)
        return QString::number((bytes + 1023) / 1024) + QStringLiteral(" КБ");
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" МБ");
}

QString seconds(qint64 millis) {
    return QString::number(millis / 1000.0, 'f', 1);
}

// A statement cancelled for want of progress: the run stops there.
// Sends a plan's statements on the job's statement object, each as `sendOne` says (under the time
// limit, its progress shown).
class SendingEach : public ops::Executor {
public:
    SendingEach(AdoQuery& query, std::function<void(const ops::Statement&)> sendOne)
        : m_query(query), m_sendOne(std::move(sendOne)) {}
    void send(const ops::Statement& statement) override { m_sendOne(statement); }
    AdoQuery& query() override { return m_query; }

private:
    AdoQuery& m_query;
    std::function<void(const ops::Statement&)> m_sendOne;
};

struct RunStalled {
    DbError error;
};

// Where one database's backup goes: the file the statement names, and the backup name it is to
// have once verified (the same file when this computer cannot rename it).
struct Target {
    QString written; // file name in the folder
    QString name;    // backupFileName(database, when, n)
    QDateTime when;
    int n = 1;
};

class Job {
public:
    Job(const Options& options, const QString& password, const Output& output)
        : m_options(options), m_output(output), m_query(m_connection, QStringLiteral("zelvaro-backup")),
          m_watch([this](int number, const QString& message) { serverMessage(number, message); }),
          m_guard(m_watch, std::chrono::seconds(options.timeLimitSeconds), [this] { unanswered(); }) {
        const QString server = options.server.isEmpty()
                                   ? connection::derivedServerName(connection::computerName(), options.version)
                                   : options.server;
        m_server = server;
        m_connection.setConnectionString(
            connection::buildConnectionString(options.version, server, options.login, password));
        m_connection.setDefaultDatabase(QStringLiteral("master"));
    }

    int run() {
        // Old backups are deleted and verified ones renamed by this program, not by the server: it
        // must see the folder itself.
        m_local = QFileInfo(m_options.to).isDir();
        if (m_options.keep && !m_local) {
            error(QStringLiteral("папки %1 немає на цьому комп'ютері, тож старі копії видалити не вдасться: "
                                 "zelvaro-backup з --keep працює із сервером на цьому ж комп'ютері. Без --keep "
                                 "копії створюються й перевіряються, але не видаляються.")
                      .arg(m_options.to));
            return BadSettings;
        }
        try {
            m_connection.open();
        } catch (const DbError& e) {
            error(QStringLiteral("не вдалося підключитися до сервера %1: ").arg(m_server) + erroradvice::appended(e));
            return NoServer;
        }
        m_query.setWatch(&m_watch);
        const int major = m_connection.serverMajorVersion();
        m_major = major > 0 ? major : (m_options.version == QLatin1String("2000") ? 8 : 9);
        m_is2000 = m_major < 9;
        if (m_options.copyOnly && m_is2000)
            error(QStringLiteral("SQL Server 2000 не знає COPY_ONLY: копії буде створено звичайні."));

        QStringList databases = m_options.databases;
        try {
            try {
                m_sensitivity = watched([&] { return nameComparison(m_query); });
            } catch (const DbError&) {
                // Names then count as ours only spelt exactly alike: fewer files are deleted, none wrongly.
            }
            if (databases.isEmpty())
                databases = watched([&] { return userDatabases(); });
        } catch (const RunStalled& s) {
            stalledBeforeAny(s.error);
            return Stalled;
        } catch (const DbError& e) {
            error(QStringLiteral("не вдалося прочитати список баз даних: ") + erroradvice::appended(e));
            return NoServer;
        }
        if (databases.isEmpty()) {
            // A job that backs nothing up must not pass unnoticed.
            print(m_output.lines,
                  QStringLiteral("На сервері %1 немає баз даних користувача: копій не створено.")
                      .arg(m_server));
            return SomeFailed;
        }
        bool allVerified = true;
        for (qsizetype i = 0; i < databases.size(); ++i) {
            try {
                allVerified = backUp(databases[i]) && allVerified;
            } catch (const RunStalled& s) {
                stalled(s.error);
                for (const QString& rest : databases.mid(i + 1))
                    print(m_output.lines, QStringLiteral("%1: НЕ СТВОРЕНО, запуск зупинено").arg(rest));
                return Stalled;
            }
        }
        if (!allVerified)
            return SomeFailed;
        return m_oldKept ? OldKept : AllVerified;
    }

private:
    void error(const QString& text) {
        endProgress();
        print(m_output.messages, QStringLiteral("zelvaro-backup: ") + text);
    }

    void endProgress() {
        if (m_progressShown) {
            std::fputs("\r\033[K", m_output.messages);
            m_progressShown = false;
        }
    }

    // Every message the server sends while a statement runs is a sign of progress; the shares done
    // are shown on a terminal.
    void serverMessage(int number, const QString& message) {
        m_guard.progress();
        const int percent = backupsql::percentOf(number, message);
        if (percent < 0 || !m_output.progress)
            return;
        std::fputs(QStringLiteral("\r\033[K%1: %2 %").arg(m_current).arg(percent).toUtf8().constData(),
                   m_output.messages);
        std::fflush(m_output.messages);
        m_progressShown = true;
    }

    // Runs one round trip under the time limit.
    template <typename F> auto watched(F&& ask) -> decltype(ask()) {
        try {
            StallGuard::Statement statement(m_guard);
            return ask();
        } catch (const DbError& e) {
            m_query.close();
            if (m_guard.stalled())
                throw RunStalled{e};
            throw;
        }
    }

    void execute(const QString& statement) {
        watched([&] {
            m_query.close();
            m_query.setText(statement);
            m_query.execute();
            m_query.close();
        });
    }

    QString limitText() const {
        return QStringLiteral("сервер %1 с не повідомляв про поступ (--time-limit)")
            .arg(m_options.timeLimitSeconds);
    }

    void stalledBeforeAny(const DbError& e) {
        error(limitText() + QStringLiteral(": інструкцію скасовано, копій не створено. ") +
              erroradvice::appended(e));
    }

    // The statement of m_current was cancelled and the server answered the cancel.
    void stalled(const DbError& e) {
        QString where = m_writtenPath;
        if (m_local && !m_writtenName.isEmpty() && QFileInfo::exists(m_writtenPath)) {
            const QString renamed = markFailed(m_options.to, m_writtenName, m_target.name);
            if (!renamed.isEmpty())
                where = filechecks::join(m_options.to, renamed);
        }
        error(QStringLiteral("%1: %2: інструкцію скасовано, решту баз не копійовано. ")
                  .arg(m_current, limitText()) +
              erroradvice::appended(e) +
              (QFileInfo::exists(where) ? QStringLiteral("\nНе покладайтеся на файл ") + where : QString()));
        stoppedLine(where, m_verifying);
    }

    // The stopped database's line; `where` is empty when no file was named yet.
    void stoppedLine(const QString& where, bool written) {
        print(m_output.lines,
              QStringLiteral("%1: %2%3, запуск зупинено, старі копії не видалялися")
                  .arg(m_current, where.isEmpty() ? QString() : where + QStringLiteral(", "),
                       written ? QStringLiteral("НЕ ПЕРЕВІРЕНО") : QStringLiteral("НЕ СТВОРЕНО")));
    }

    // On the guard's thread: the server answered neither the statement nor its cancel. The main
    // thread still waits in the driver; the process ends here.
    void unanswered() {
        endProgress();
        print(m_output.messages,
              QStringLiteral("zelvaro-backup: %1: %2: інструкцію скасовано, але сервер не відповів і на це; "
                             "запуск припинено.%3")
                  .arg(m_current.isEmpty() ? m_server : m_current, limitText(),
                       m_writtenName.isEmpty() ? QString()
                                               : QStringLiteral(" Неперевірений файл: ") + m_writtenPath));
        // The server may still write the file it was given: not verified, whatever it holds.
        if (!m_current.isEmpty())
            stoppedLine(m_writtenPath, !m_writtenName.isEmpty());
        std::_Exit(Stalled);
    }

    QStringList userDatabases() {
        m_query.close();
        m_query.setText(backupsql::databaseList());
        m_query.openRowset();
        QStringList names;
        for (m_query.first(); !m_query.atEnd(); m_query.next())
            if (!backupsql::isSystemDatabase(m_query.firstColumnView()))
                names.append(m_query.firstColumn());
        m_query.close();
        return names;
    }

    bool takenHere(const QString& name) const {
        return m_local && QFileInfo::exists(filechecks::join(m_options.to, name));
    }

    // Right before the statement: a name nobody has, as this computer and the server see the
    // folder. On this computer the server writes under the run's own unverified name; where only
    // the server sees the folder it writes the backup name itself. False with the reason when the
    // server cannot tell whether a name is free.
    bool chooseTarget(const QString& database, Target* target, QString* why) {
        const QDateTime when = QDateTime::currentDateTime();
        for (int n = 1; n < 1000; ++n) {
            const QString name = backupFileName(database, when, n);
            const QString written = m_local ? unverifiedName(name, QCoreApplication::applicationPid()) : name;
            if (takenHere(name) || takenHere(failedName(name)) || takenHere(written))
                continue;
            const Taken taken = watched([&] {
                return takenForServer(m_query, m_major, m_options.to,
                                      filechecks::join(m_options.to, written));
            });
            if (taken == Taken::Yes ||
                (!m_local && watched([&] {
                                 return takenForServer(m_query, m_major, m_options.to,
                                                       filechecks::join(m_options.to, failedName(name)));
                             }) == Taken::Yes))
                continue;
            if (taken == Taken::Unknown && !m_local) {
                *why =
                    QStringLiteral("сервер не каже, чи є вже файл %1, тож копію не створено, щоб нічого не "
                                   "перезаписати (потрібне право питати сервер про файли, або папка на цьому "
                                   "комп'ютері)")
                        .arg(filechecks::join(m_options.to, written));
                return false;
            }
            *target = {written, name, when, n};
            return true;
        }
        *why = QStringLiteral("усі назви зайняті");
        return false;
    }

    // Files of this database that runs did not get to verify: named every time, never counted,
    // never deleted.
    void nameUnverified(const QString& database) {
        if (!m_local)
            return;
        for (const QString& name :
             unverifiedNames(database, QDir(m_options.to).entryList(QDir::Files), m_sensitivity))
            error(QStringLiteral(
                      "%1: файл %2 лишився від запуску, що не дійшов до кінця перевірки (перерваного "
                      "або ще не завершеного): його не перевірено, він не рахується в --keep і не "
                      "видаляється. Перевірте його (RESTORE VERIFYONLY) або видаліть самі.")
                      .arg(database, filechecks::join(m_options.to, name)));
    }

    bool backUp(const QString& asked) {
        QElapsedTimer timer;
        timer.start();
        m_current = asked;
        m_writtenName.clear();
        m_writtenPath.clear();
        m_verifying = false;
        QString database;
        try {
            database = watched([&] { return serverSpelling(m_query, m_major, asked); });
        } catch (const DbError& e) {
            return notWritten(asked, QStringLiteral("сервер не сказав, чи є така база: ") +
                                         erroradvice::appended(e));
        }
        if (database.isEmpty())
            return notWritten(asked, QStringLiteral("на сервері %1 немає такої бази даних").arg(m_server));
        m_current = database;
        nameUnverified(database);
        QString why;
        try {
            if (!chooseTarget(database, &m_target, &why))
                return notWritten(database, why);
        } catch (const DbError& e) {
            return notWritten(database, QStringLiteral("сервер не сказав, чи вільна назва файлу: ") +
                                            erroradvice::appended(e));
        }
        m_writtenName = m_target.written;
        m_writtenPath = filechecks::join(m_options.to, m_target.written);
        // The backup operation's own plan, the window's statements: WITH INIT leaves the new set
        // alone in the file, set 1, checked with its checksums (not on 2000) and, from 2005 on,
        // with its progress. The name was asked of the server already (chooseTarget).
        ops::backup::Request request;
        request.database = database;
        request.path = m_writtenPath;
        request.copyOnly = m_options.copyOnly;
        request.verifyStats = 10;
        const ops::Plan plan = ops::backup::unasked(request, m_server, m_is2000);
        SendingEach executor(m_query, [&](const ops::Statement& statement) {
            if (statement.text != plan.statements.first().text) {
                m_verifying = true;
                if (m_progressShown)
                    std::fputs(QStringLiteral("\r\033[K%1: перевірка…").arg(database).toUtf8().constData(),
                               m_output.messages);
            }
            execute(statement.text);
        });
        const ops::Ran ran = ops::run(plan, executor, ops::journal());
        if (!ran.done) {
            try {
                std::rethrow_exception(ran.stopped);
            } catch (const DbError& e) {
                failed(database, e, timer.elapsed());
                return false;
            }
        }
        endProgress();
        QString path = m_writtenPath;
        if (m_local) {
            QString reason;
            const QString name =
                settleVerified(m_options.to, m_target.written, database, m_target.when, m_target.n, &reason);
            if (name.isEmpty()) {
                error(QStringLiteral("%1: копію перевірено, але файл %2 не вдалося перейменувати: %3")
                          .arg(database, m_writtenPath, reason));
                print(m_output.lines,
                      QStringLiteral("%1: %2, перевірено, але не перейменовано, старі копії не видалялися")
                          .arg(database, m_writtenPath));
                return false;
            }
            path = filechecks::join(m_options.to, name);
            m_target.name = name;
        }
        const qint64 size = m_local ? QFileInfo(path).size() : -1;
        QString line = QStringLiteral("%1: %2, %3, %4 с, перевірено")
                           .arg(database, path, sizeText(size), seconds(timer.elapsed()));
        if (m_options.keep) {
            const int deleted = deleteOlder(database, m_target.name);
            if (deleted > 0)
                line += QStringLiteral(", видалено старих копій: %1").arg(deleted);
        }
        print(m_output.lines, line);
        return true;
    }

    bool notWritten(const QString& database, const QString& why) {
        error(database + QStringLiteral(": копію не створено: ") + why);
        print(m_output.lines, QStringLiteral("%1: НЕ СТВОРЕНО, старі копії не видалялися").arg(database));
        return false;
    }

    // Nothing is deleted. The new file, if the server left one, keeps a name no run counts: renamed
    // to the failed name where this computer sees it.
    void failed(const QString& database, const DbError& e, qint64 millis) {
        const bool written = m_verifying;
        QString where = m_writtenPath;
        QString fate;
        if (m_local && QFileInfo::exists(m_writtenPath)) {
            const QString renamed = markFailed(m_options.to, m_target.written, m_target.name);
            if (!renamed.isEmpty()) {
                where = filechecks::join(m_options.to, renamed);
                fate = QStringLiteral("файл перейменовано на ") + where;
            } else {
                fate = QStringLiteral("файл не вдалося перейменувати: не покладайтеся на ") + m_writtenPath;
            }
        } else if (!m_local && written) {
            fate = QStringLiteral("файл на сервері лишився: не покладайтеся на ") + m_writtenPath;
        }
        error(database + QStringLiteral(": ") +
              (written ? QStringLiteral("копію створено, але перевірку не пройдено: ")
                       : QStringLiteral("копію не створено: ")) +
              erroradvice::appended(e) + (fate.isEmpty() ? QString() : QLatin1Char('\n') + fate));
        print(m_output.lines,
              QStringLiteral("%1: %2, %3 с, %4, старі копії не видалялися")
                  .arg(database, where, seconds(millis),
                       written ? QStringLiteral("НЕ ПЕРЕВІРЕНО") : QStringLiteral("НЕ СТВОРЕНО")));
    }

    // Deletes the backups beyond the number to keep, the new one counted. Returns how many went.
    int deleteOlder(const QString& database, const QString& newName) {
        const Pruned pruned = deleteBeyondKeep(
            m_options.to, database, newName, *m_options.keep, m_sensitivity,
            [this](const QString& path) { return watched([&] { return setsIn(m_query, path); }); },
            [this](const QString& text) { error(text); });
        m_oldKept = m_oldKept || pruned.someNotDeleted;
        return pruned.deleted;
    }

    const Options& m_options;
    const Output& m_output;
    QString m_server;
    AdoConnection m_connection;
    AdoQuery m_query;
    StatementWatch m_watch;
    StallGuard m_guard;
    int m_major = 0;
    Qt::CaseSensitivity m_sensitivity = Qt::CaseSensitive;
    bool m_local = false;
    bool m_is2000 = false;
    bool m_oldKept = false;
    bool m_progressShown = false;
    // The database being backed up and its file, also read by the guard's thread (after the
    // statement began, which the guard's lock orders).
    QString m_current;
    Target m_target;
    QString m_writtenName;
    QString m_writtenPath;
    bool m_verifying = false;
};

} // namespace

int runBackups(const Options& options, const QString& password, const Output& output) {
    try {
        Job job(options, password, output);
        return job.run();
    } catch (const DbError& e) {
        // ODBC or the FreeTDS driver missing.
        print(output.messages, QStringLiteral("zelvaro-backup: ") + e.message());
        return NoServer;
    }
}

} // namespace backupcmd
