// zelvaro-backup as a timer runs it: the installed-style binary against the stand-in, its files,
// its lines and its exit status. Names with quotes, brackets and Cyrillic letters throughout.
#include "BackupFiles.h"
#include "DevServer.h"

#include "SqlQuote.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {
const QStringList kDatabases = {QStringLiteral("Sales"), QStringLiteral("O'Brien [old]"),
                                QStringLiteral("Бухгалтерія")};

struct Run {
    int status = -1;
    QStringList lines; // stdout
    QString messages;  // stderr
};

Run finish(QProcess& p) {
    p.waitForFinished(60000);
    Run r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    r.messages = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// credentials: the folder systemd would hand over as $CREDENTIALS_DIRECTORY; none when empty.
void start(QProcess& p, const QStringList& arguments, const QString& credentials = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("CREDENTIALS_DIRECTORY"));
    if (!credentials.isEmpty())
        env.insert(QStringLiteral("CREDENTIALS_DIRECTORY"), credentials);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ZELVARO_BACKUP), arguments);
}

Run backupCommand(const QStringList& arguments, const QString& credentials = {}) {
    QProcess p;
    start(p, arguments, credentials);
    return finish(p);
}

QString passwordFile(const QString& folder, QFileDevice::Permissions permissions) {
    const QString path = folder + QStringLiteral("/sa.password");
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write("pvtmo\n");
    f.close();
    f.setPermissions(permissions);
    return path;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
}
} // namespace

class TestBackupCommand : public QObject {
    Q_OBJECT

    // The server's databases, a password file only its owner reads, an empty backup folder.
    QStringList prepare(DevServer& dev, const QString& folder, int version) {
        for (const QString& name : kDatabases)
            dev.tsql(QStringLiteral("CREATE DATABASE %1").arg(sqlquote::name(name)),
                     version == 2000 ? QStringLiteral("7.1") : QStringLiteral("7.4"));
        QDir().mkpath(folder);
        const QString password = passwordFile(dev.scratch(), QFile::ReadOwner | QFile::WriteOwner);
        return {QStringLiteral("--server"), dev.dataSource(), QStringLiteral("--password-file"), password,
                QStringLiteral("--to"), folder};
    }

private slots:
    // Only names this program makes for the database count, before any header is read: not a
    // longer name with ours inside, not another database's that begins with ours, not a failed or
    // an unverified file; the database part compares as the server compares names.
    void nameRule() {
        using namespace backupcmd;
        const QStringList entries = {QStringLiteral("Sales_keep_2026-01-01_000000.bak"),
                                     QStringLiteral("SalesArchive_2026-01-01_000000.bak"),
                                     QStringLiteral("Sales_2026-01-01_000000.failed.bak"),
                                     QStringLiteral("Sales_2026-01-01_000000.bak.unverified-42"),
                                     QStringLiteral("sales_2026-01-02_000000.bak"),
                                     QStringLiteral("Sales_2026-01-01_000000_2.bak"),
                                     QStringLiteral("Sales_2026-01-01_000000.bak"),
                                     QStringLiteral("Sales_2026-01-01_000000.bak.unverified-x")};
        QCOMPARE(ownBackupNames(QStringLiteral("Sales"), entries, Qt::CaseSensitive),
                 QStringList({entries[5], entries[6]}));
        QCOMPARE(ownBackupNames(QStringLiteral("Sales"), entries, Qt::CaseInsensitive),
                 QStringList({entries[4], entries[5], entries[6]}));
        QCOMPARE(ownBackupNames(QStringLiteral("Sales_keep"), entries, Qt::CaseSensitive),
                 QStringList{entries[0]});
        QCOMPARE(unverifiedNames(QStringLiteral("Sales"), entries, Qt::CaseSensitive),
                 QStringList{entries[3]});
    }

    // A run killed while the server verifies leaves a file that never counts towards --keep; the
    // database is named in another case than the server's; a copy whose name is newer than its set.
    void onlyVerifiedBackupsCountOldestSetsGoFirst_data() {
        QTest::addColumn<int>("version");
        QTest::newRow("2000") << 2000;
        QTest::newRow("2019") << 2019;
    }
    void onlyVerifiedBackupsCountOldestSetsGoFirst() {
        QFETCH(int, version);
        DevServer dev(version);
        QVERIFY(dev.isRunning());
        const QString folder = dev.scratch() + QStringLiteral("/backups");
        const QStringList args =
            prepare(dev, folder, version) +
            QStringList{QStringLiteral("--version"), QString::number(version), QStringLiteral("--database"),
                        QStringLiteral("sales"),     QStringLiteral("--keep"), QStringLiteral("2")};
        QCOMPARE(backupCommand(args).status, 0);
        QTest::qWait(1100);
        QCOMPARE(backupCommand(args).status, 0);
        const QStringList verified = filesIn(folder);
        QCOMPARE(verified.size(), 2);
        QCOMPARE(verified.filter(QRegularExpression(QStringLiteral("^Sales_"))).size(), 2);
        const QString renamedCopy = QStringLiteral("Sales_2099-01-01_000000.bak");
        QVERIFY(
            QFile::copy(folder + QLatin1Char('/') + verified[0], folder + QLatin1Char('/') + renamedCopy));

        dev.stop();
        dev.setExtraArguments({QStringLiteral("--slow"), QStringLiteral("600")});
        QVERIFY(dev.start());
        QTest::qWait(1100);
        QProcess killed;
        start(killed, args);
        QTRY_VERIFY_WITH_TIMEOUT(dev.receivedStatements().count(QStringLiteral("RESTORE VERIFYONLY")) == 3,
                                 30000);
        killed.terminate();
        QVERIFY(killed.waitForFinished(10000));
        QStringList interrupted = filesIn(folder);
        for (const QString& name : verified + QStringList{renamedCopy})
            interrupted.removeAll(name);
        QCOMPARE(interrupted.size(), 1);
        const QString damaged = folder + QLatin1Char('/') + interrupted[0];
        QByteArray bytes = contentOf(damaged);
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x40);
        writeFile(damaged, bytes);

        dev.stop();
        dev.setExtraArguments({});
        QVERIFY(dev.start());
        QTest::qWait(1100);
        const Run next = backupCommand(args);
        QCOMPARE(next.status, 0);
        QVERIFY2(next.lines.value(0).contains(QStringLiteral("видалено старих копій: 2")),
                 qPrintable(next.lines.value(0)));
        QVERIFY2(next.messages.contains(interrupted[0]), qPrintable(next.messages));
        const QStringList left = filesIn(folder);
        QCOMPARE(left.size(), 3);
        QVERIFY(left.contains(verified[1]) && left.contains(interrupted[0]) && contentOf(damaged) == bytes);
    }

    // A file at the next name the server would write is never overwritten, even where only the
    // server sees the folder; a refused login and a server that stops answering have their own
    // words and statuses.
    void takenNamesRefusedLoginsAndStalls() {
        DevServer dev(2019, DevServer::ownRoot());
        QVERIFY(dev.isRunning());
        const QString folder = QStringLiteral("/var/opt/mssql/backup");
        QVERIFY(QDir().mkpath(dev.hostPath(folder)));
        QStringList args =
            prepare(dev, dev.scratch() + QStringLiteral("/unused"), 2019) +
            QStringList{QStringLiteral("--version"), QStringLiteral("2019"), QStringLiteral("--database"),
                        QStringLiteral("Sales"),     QStringLiteral("--to"), folder};
        const QDateTime now = QDateTime::currentDateTime();
        QStringList mine;
        for (int s = 0; s < 4; ++s) {
            mine << backupcmd::backupFileName(QStringLiteral("Sales"), now.addSecs(s));
            writeFile(dev.hostPath(folder + QLatin1Char('/') + mine.last()), "mine");
        }
        const Run beside = backupCommand(args);
        QCOMPARE(beside.status, 0);
        for (const QString& name : mine)
            QCOMPARE(contentOf(dev.hostPath(folder + QLatin1Char('/') + name)), QByteArray("mine"));
        QCOMPARE(filesIn(dev.hostPath(folder)).size(), mine.size() + 1);

        writeFile(args[3], "not the password\n");
        const Run refused = backupCommand(args);
        QCOMPARE(refused.status, 3);
        QVERIFY2(refused.messages.contains(QStringLiteral("не прийняв вхід")), qPrintable(refused.messages));
        passwordFile(dev.scratch(), QFile::ReadOwner | QFile::WriteOwner);

        // The server holds the backup: cancelled after the limit; then one that ignores the cancel.
        args << QStringLiteral("--time-limit") << QStringLiteral("1");
        for (const QStringList& pace : {QStringList{}, QStringList{QStringLiteral("--ignore-attention")}}) {
            dev.stop();
            dev.setExtraArguments(DevServer::ownRoot() + pace +
                                  QStringList{QStringLiteral("--slow-changes"), QStringLiteral("6000")});
            QVERIFY(dev.start());
            QElapsedTimer timer;
            timer.start();
            const Run stalled = backupCommand(args);
            QCOMPARE(stalled.status, 5);
            QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
            QVERIFY2(stalled.messages.contains(QStringLiteral("скасовано")), qPrintable(stalled.messages));
        }
    }

    void everyDatabaseVerifiedAndOnlyItsOwnOldBackupsDeleted_data() {
        QTest::addColumn<int>("version");
        QTest::newRow("2000") << 2000;
        QTest::newRow("2019") << 2019;
    }
    void everyDatabaseVerifiedAndOnlyItsOwnOldBackupsDeleted() {
        QFETCH(int, version);
        DevServer dev(version);
        QVERIFY(dev.isRunning());
        const QString folder = dev.scratch() + QStringLiteral("/копії");
        const QStringList common = prepare(dev, folder, version);

        // Every user database, none named: one line each, each verified.
        Run first = backupCommand(common + QStringList{QStringLiteral("--version"), QString::number(version),
                                                       QStringLiteral("--copy-only")});
        QCOMPARE(first.status, 0);
        QCOMPARE(first.lines.size(), kDatabases.size());
        for (const QString& name : kDatabases)
            QVERIFY2(first.lines.filter(name + QStringLiteral(": ")).filter(QStringLiteral("перевірено")).size() == 1,
                     qPrintable(first.lines.join(QLatin1Char('\n'))));
        QCOMPARE(filesIn(folder).size(), kDatabases.size());
        const QString log = dev.receivedStatements();
        QCOMPARE(log.count(QStringLiteral("RESTORE VERIFYONLY")), kDatabases.size());
        // 2000 knows neither checksums nor copy-only backups: asking would fail every backup there.
        QCOMPARE(log.contains(QStringLiteral("CHECKSUM")), version != 2000);
        QCOMPARE(log.count(QStringLiteral("COPY_ONLY")), version != 2000 ? kDatabases.size() : 0);
        QVERIFY(log.contains(QStringLiteral("[O'Brien [old]]]")));

        // Older backups of Sales by this program's names; one more whose header is another
        // database's, one unreadable, and a file of the administrator's own.
        const QString sales = filesIn(folder).filter(QStringLiteral("Sales_")).value(0);
        const QString other = filesIn(folder).filter(QStringLiteral("Бухгалтерія_")).value(0);
        QVERIFY(!sales.isEmpty() && !other.isEmpty());
        const QStringList older = {QStringLiteral("Sales_2026-01-01_000000.bak"), QStringLiteral("Sales_2026-01-02_000000.bak"),
                                   QStringLiteral("Sales_2026-01-02_000000_2.bak")};
        for (const QString& name : older)
            QVERIFY(QFile::copy(folder + QLatin1Char('/') + sales, folder + QLatin1Char('/') + name));
        QVERIFY(QFile::copy(folder + QLatin1Char('/') + other, folder + QStringLiteral("/Sales_2025-01-01_000000.bak")));
        QFile garbage(folder + QStringLiteral("/Sales_2024-01-01_000000.bak"));
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x')) == 4096);
        garbage.close();
        QVERIFY(QFile::copy(folder + QLatin1Char('/') + sales, folder + QStringLiteral("/Sales_mine.bak")));

        // Keep 3 of Sales: the new one, the run's first and the newest older one stay. As the
        // timer runs it: a configuration file, the password as systemd's credential.
        QTest::qWait(1100); // a new second: a new name
        const QString credentials = dev.scratch() + QStringLiteral("/credentials");
        QDir().mkpath(credentials);
        QVERIFY(QFile::copy(common[3], credentials + QStringLiteral("/password")));
        const QString config = dev.scratch() + QStringLiteral("/nightly.conf");
        QFile conf(config);
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(QStringLiteral("# nightly\nserver = %1\nversion = %2\n\nto = %3\ndatabase = Sales\nkeep = 3\n")
                       .arg(dev.dataSource())
                       .arg(version)
                       .arg(folder)
                       .toUtf8());
        conf.close();
        Run second = backupCommand({QStringLiteral("--config"), config}, credentials);
        QCOMPARE(second.status, 0);
        QCOMPARE(second.lines.size(), 1);
        QVERIFY2(second.lines[0].contains(QStringLiteral("видалено старих копій: 2")), qPrintable(second.lines[0]));
        const QStringList left = filesIn(folder);
        QVERIFY(left.contains(sales) && left.contains(QStringLiteral("Sales_2026-01-02_000000_2.bak")));
        QVERIFY(!left.contains(older[0]) && !left.contains(older[1]));
        for (const QString& untouched : {QStringLiteral("Sales_2025-01-01_000000.bak"), QStringLiteral("Sales_2024-01-01_000000.bak"),
                                         QStringLiteral("Sales_mine.bak"), other})
            QVERIFY2(left.contains(untouched), qPrintable(untouched));
        QCOMPARE(left.filter(QStringLiteral("Sales_")).size(), 3 + 3);
    }

    // What must delete nothing: a password others can read, a damaged backup, a server gone midway.
    void failuresDeleteNothing() {
        DevServer dev(2019);
        QVERIFY(dev.isRunning());
        const QString folder = dev.scratch() + QStringLiteral("/backups");
        const QStringList common = prepare(dev, folder, 2019) + QStringList{QStringLiteral("--version"), QStringLiteral("2019")};

        passwordFile(dev.scratch(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        Run readable = backupCommand(common);
        QCOMPARE(readable.status, 2);
        QVERIFY2(readable.messages.contains(QStringLiteral("chmod 600")), qPrintable(readable.messages));
        QVERIFY(!dev.receivedStatements().contains(QStringLiteral("Backup Database")));
        passwordFile(dev.scratch(), QFile::ReadOwner | QFile::WriteOwner);

        // Old backups in a folder this machine does not see could not be deleted: refused at once.
        Run unseen = backupCommand(common + QStringList{QStringLiteral("--to"), QStringLiteral("/nowhere/backups"),
                                                        QStringLiteral("--keep"), QStringLiteral("2")});
        QCOMPARE(unseen.status, 2);
        QVERIFY2(unseen.messages.contains(QStringLiteral("на цьому комп'ютері")), qPrintable(unseen.messages));
        QVERIFY(!dev.receivedStatements().contains(QStringLiteral("Backup Database")));

        QCOMPARE(backupCommand(common).status, 0);
        const QStringList good = filesIn(folder);

        // A failing disk: every new backup fails its check; the good ones all stay.
        dev.stop();
        dev.setExtraArguments({QStringLiteral("--damage-backups")});
        QVERIFY(dev.start());
        QTest::qWait(1100);
        Run damaged = backupCommand(common + QStringList{QStringLiteral("--keep"), QStringLiteral("1")});
        QCOMPARE(damaged.status, 1);
        QCOMPARE(damaged.lines.size(), kDatabases.size());
        QCOMPARE(damaged.lines.filter(QStringLiteral("НЕ ПЕРЕВІРЕНО")).size(), kDatabases.size());
        QStringList now = filesIn(folder);
        for (const QString& name : good)
            QVERIFY(now.contains(name));
        QCOMPARE(now.filter(QStringLiteral(".failed.bak")).size(), kDatabases.size());
        QVERIFY(damaged.lines[0].contains(QStringLiteral("старі копії не видалялися")));

        // The server goes away once the first database is done: the rest are reported, nothing is
        // deleted, the status says so.
        dev.stop();
        dev.setExtraArguments({QStringLiteral("--slow"), QStringLiteral("300")});
        QVERIFY(dev.start());
        QTest::qWait(1100);
        QProcess p;
        start(p, common + QStringList{QStringLiteral("--keep"), QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(p.canReadLine() || p.state() == QProcess::NotRunning, 30000);
        dev.stop();
        Run gone = finish(p);
        QCOMPARE(gone.status, 1);
        QCOMPARE(gone.lines.size(), kDatabases.size());
        QVERIFY(gone.lines[0].contains(QStringLiteral("перевірено")));
        QVERIFY2(gone.lines.filter(QStringLiteral("НЕ СТВОРЕНО")).size() == kDatabases.size() - 1,
                 qPrintable(gone.lines.join(QLatin1Char('\n')) + QLatin1Char('\n') + gone.messages));
        now = filesIn(folder);
        for (const QString& name : good)
            if (!name.startsWith(gone.lines[0].section(QLatin1Char(':'), 0, 0)))
                QVERIFY2(now.contains(name), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestBackupCommand)
#include "tst_backup_command.moc"
