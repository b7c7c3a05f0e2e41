#include "BackupJob.h"

#include "AdoConnection.h"
#include "AdoQuery.h"
#include "BackupFiles.h"
#include "BackupStatements.h"
#include "ConnectionSettings.h"
#include "ErrorAdvice.h"
#include "FileChecks.h"
#include "SqlQuote.h"
#include "StatementWatch.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

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

class Job {
public:
    Job(const Options& options, const QString& password, const Output& output)
        : m_options(options), m_output(output), m_query(m_connection, QStringLiteral("zelvaro-backup")) {
        const QString server = options.server.isEmpty()
                                   ? connection::derivedServerName(connection::computerName(), options.version)
                                   : options.server;
        m_server = server;
        m_connection.setConnectionString(
            connection::buildConnectionString(options.version, server, options.login, password));
        m_connection.setDefaultDatabase(QStringLiteral("master"));
    }

    int run() {
        // Old backups are deleted by this program, not by the server: it must see the folder itself.
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
        const int major = m_connection.serverMajorVersion();
        m_is2000 = major > 0 ? major < 9 : m_options.version == QLatin1String("2000");
        if (m_options.copyOnly && m_is2000)
            error(QStringLiteral("SQL Server 2000 не знає COPY_ONLY: копії буде створено звичайні."));

        QStringList databases = m_options.databases;
        if (databases.isEmpty()) {
            try {
                databases = userDatabases();
            } catch (const DbError& e) {
                error(QStringLiteral("не вдалося прочитати список баз даних: ") + erroradvice::appended(e));
                return NoServer;
            }
            if (databases.isEmpty()) {
                // A job that backs nothing up must not pass unnoticed.
                print(m_output.lines, QStringLiteral("На сервері %1 немає баз даних користувача: копій не створено.")
                                          .arg(m_server));
                return SomeFailed;
            }
        }
        bool allVerified = true;
        for (const QString& database : databases)
            allVerified = backUp(database) && allVerified;
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

    // Whether the server can read a backup header from the path: then a file is there.
    bool serverSeesBackup(const QString& path) {
        try {
            m_query.close();
            m_query.setText(QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(path));
            m_query.openRowset();
            m_query.close();
            return true;
        } catch (const DbError&) {
            m_query.close();
            return false;
        }
    }

    // The database names of the file's backup sets; throws DbError when the server cannot read it.
    QStringList databasesIn(const QString& path) {
        m_query.close();
        m_query.setText(QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(path));
        m_query.openRowset();
        QStringList names;
        for (m_query.first(); !m_query.atEnd(); m_query.next())
            names.append(m_query.field(QStringLiteral("DatabaseName")));
        m_query.close();
        return names;
    }

    // A new name: a file already there (as this machine sees it, or else as the server does) is
    // never overwritten.
    QString newFileName(const QString& database, const QDateTime& when) {
        for (int n = 1;; ++n) {
            const QString name = backupFileName(database, when, n);
            const QString path = filechecks::join(m_options.to, name);
            const bool taken = m_local ? QFileInfo::exists(path) || QFileInfo::exists(filechecks::join(
                                                                        m_options.to, failedName(name)))
                                       : serverSeesBackup(path);
            if (!taken)
                return name;
        }
    }

    void run(const QString& statement) {
        m_query.close();
        m_query.setText(statement);
        m_query.execute();
        m_query.close();
    }

    bool backUp(const QString& database) {
        QElapsedTimer timer;
        timer.start();
        const QString name = newFileName(database, QDateTime::currentDateTime());
        const QString path = filechecks::join(m_options.to, name);
        const bool checksum = !m_is2000;
        StatementWatch watch([this, database](int number, const QString& message) {
            const int percent = backupsql::percentOf(number, message);
            if (percent < 0 || !m_output.progress)
                return;
            std::fputs(QStringLiteral("\r\033[K%1: %2 %").arg(database).arg(percent).toUtf8().constData(),
                       m_output.messages);
            std::fflush(m_output.messages);
            m_progressShown = true;
        });
        m_query.setWatch(&watch);
        bool written = false;
        try {
            run(backupsql::backup(database, path, checksum, m_options.copyOnly && !m_is2000));
            written = true;
            if (m_progressShown)
                std::fputs(QStringLiteral("\r\033[K%1: перевірка…").arg(database).toUtf8().constData(),
                           m_output.messages);
            // WITH INIT leaves the new set alone in the file: it is set 1; written WITH CHECKSUM
            // (not on 2000), it is checked with its checksums.
            run(backupsql::verifyOnly(path, 1, checksum));
        } catch (const DbError& e) {
            m_query.setWatch(nullptr);
            m_query.close();
            failed(database, path, name, written, e, timer.elapsed());
            return false;
        }
        m_query.setWatch(nullptr);
        endProgress();
        const qint64 size = m_local ? QFileInfo(path).size() : -1;
        QString line = QStringLiteral("%1: %2, %3, %4 с, перевірено")
                           .arg(database, path, sizeText(size), QString::number(timer.elapsed() / 1000.0, 'f', 1));
        if (m_options.keep) {
            const int deleted = deleteOlder(database, name);
            if (deleted > 0)
                line += QStringLiteral(", видалено старих копій: %1").arg(deleted);
        }
        print(m_output.lines, line);
        return true;
    }

    // Nothing is deleted. The new file, if the server left one, is renamed so that it is never
    // taken for a good backup, neither by a person nor by a later run's count.
    void failed(const QString& database, const QString& path, const QString& name, bool written, const DbError& e,
                qint64 millis) {
        QString where = path;
        QString fate;
        if (m_local && QFileInfo::exists(path)) {
            const QString renamed = filechecks::join(m_options.to, failedName(name));
            if (QFile::rename(path, renamed)) {
                where = renamed;
                fate = QStringLiteral("файл перейменовано на ") + renamed;
            } else {
                fate = QStringLiteral("файл не вдалося перейменувати: не покладайтеся на ") + path;
            }
        } else if (!m_local && written) {
            fate = QStringLiteral("файл на сервері лишився: не покладайтеся на ") + path;
        }
        error(database + QStringLiteral(": ") +
              (written ? QStringLiteral("копію створено, але перевірку не пройдено: ")
                       : QStringLiteral("копію не створено: ")) +
              erroradvice::appended(e) + (fate.isEmpty() ? QString() : QLatin1Char('\n') + fate));
        print(m_output.lines, QStringLiteral("%1: %2, %3 с, %4, старі копії не видалялися")
                                  .arg(database, where, QString::number(millis / 1000.0, 'f', 1),
                                       written ? QStringLiteral("НЕ ПЕРЕВІРЕНО") : QStringLiteral("НЕ СТВОРЕНО")));
    }

    // The database's backups beyond the number to keep, the new one counted: only files named as
    // this program names them whose header says they hold this database. Returns how many went.
    int deleteOlder(const QString& database, const QString& newName) {
        const QStringList names = ownBackupNames(database, QDir(m_options.to).entryList(QDir::Files));
        int kept = 1; // the new one
        int deleted = 0;
        for (const QString& name : names) {
            if (name == newName)
                continue;
            const QString path = filechecks::join(m_options.to, name);
            QStringList holds;
            try {
                holds = databasesIn(path);
            } catch (const DbError& e) {
                error(QStringLiteral("%1: файл %2 не видалено, бо сервер не прочитав його заголовок: ")
                          .arg(database, path) +
                      erroradvice::appended(e));
                continue;
            }
            if (!holds.contains(database))
                continue; // another database's, whose name makes the same file name
            if (kept < *m_options.keep) {
                ++kept;
                continue;
            }
            QFile file(path);
            if (file.remove()) {
                ++deleted;
            } else {
                error(QStringLiteral("%1: стару копію %2 не вдалося видалити: %3")
                          .arg(database, path, file.errorString()));
                m_oldKept = true;
            }
        }
        return deleted;
    }

    const Options& m_options;
    const Output& m_output;
    QString m_server;
    AdoConnection m_connection;
    AdoQuery m_query;
    bool m_local = false;
    bool m_is2000 = false;
    bool m_oldKept = false;
    bool m_progressShown = false;
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
