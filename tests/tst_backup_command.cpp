// zelvaro-backup as a timer runs it: the installed-style binary against the stand-in, its files,
// its lines and its exit status. Names with quotes, brackets and Cyrillic letters throughout.
#include "DevServer.h"

#include "SqlQuote.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

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
