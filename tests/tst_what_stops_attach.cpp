// Attach, detach and drop told what would stop them before anything is sent: other sessions inside
// the database, files of another server's version, the room and the edition's cap, files the server
// cannot read where they lie. Each case: told first, No changes nothing, Yes does what it says.
#include "WindowHarness.h"

#include "DatabaseFileVersion.h"
#include "ProgressDialog.h"
#include "SharedFolder.h"
#include "StandInAsNobody.h"
#include "UserAclEntry.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// A second client inside the database, as another program of the user's would be.
struct Holder {
    AdoConnection c;
    Holder(const DevServer& server, const QString& database) {
        c.setConnectionString(server.connectionString());
        c.open();
        c.setDefaultDatabase(database);
    }
};

QString userAccess(const WindowHarness& h, const QString& name) {
    return h.sql(QStringLiteral("SELECT user_access_desc FROM sys.databases WHERE name = %1")
                     .arg(sqlquote::literal(name)));
}

// A database's files made by a server of `version`, detached, in folder: name.mdf and name_log.ldf.
void filesOf(int version, const QString& folder, const QString& name) {
    DevServer maker(version);
    maker.tsql(QStringLiteral(
                   "CREATE DATABASE %1 ON (FILENAME = N'%2/%1.mdf') LOG ON (FILENAME = N'%2/%1_log.ldf')\n"
                   "EXEC sp_detach_db N'%1'")
                   .arg(name, folder));
    QVERIFY(QFile::exists(folder + "/" + name + ".mdf"));
}

// A database's files of a server of `version` in a folder open to every account, as files handed
// over on a shared disk are: name.mdf and name_log.ldf.
struct OpenFiles {
    QTemporaryDir top;
    QString folder, mdf, ldf;
    OpenFiles(int version, const QString& name) {
        QFile::setPermissions(top.path(), QFileDevice::Permissions(0x7755));
        folder = top.path() + QStringLiteral("/files");
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7777));
        filesOf(version, folder, name);
        mdf = folder + QLatin1Char('/') + name + QStringLiteral(".mdf");
        ldf = folder + QLatin1Char('/') + name + QStringLiteral("_log.ldf");
        for (const QString& f : {mdf, ldf})
            QFile::setPermissions(f, QFileDevice::Permissions(0x6666));
    }
};

int attachesSent(const WindowHarness& h) {
    return int(h.server.receivedStatements().count(QLatin1String("FOR ATTACH"), Qt::CaseInsensitive));
}

// Makes a file that many bytes long without writing them (a sparse file): sizes the disk never holds.
bool stretch(const QString& path, qint64 bytes) {
    return ::truncate(QFile::encodeName(path).constData(), off_t(bytes)) == 0;
}

} // namespace

class WhatStopsAttach : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // Somebody else inside the database: the one question names them; No sends nothing and leaves
    // them in; Yes puts them out and detaches or drops it.
    void othersInsideAreNamedAndPutOutOnYes_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("verb");
        QTest::newRow("detach") << "detach"
                                << "Від'єднати";
        QTest::newRow("drop") << "drop"
                              << "Видалити";
        QTest::newRow("attach over it") << "attach"
                                        << "Замінити";
    }
    void othersInsideAreNamedAndPutOutOnYes() {
        QFETCH(QString, operation);
        QFETCH(QString, verb);
        WindowHarness h(2019);
        const QString name = QStringLiteral("Склад %2]");
        const QString folder = h.folder(QStringLiteral("db"));
        QVERIFY(h.makeDatabase(name, folder + "/s.mdf", folder + "/s_log.ldf", false));
        QVERIFY(h.makeDatabase(QStringLiteral("New"), folder + "/n.mdf", folder + "/n_log.ldf", true));
        Holder holder(h.server, name);
        QVERIFY(h.connect());
        const auto press = [&] {
            if (operation == QLatin1String("attach"))
                h.attach(name, folder + "/n.mdf", folder + "/n_log.ldf");
            else
                QVERIFY(operation == QLatin1String("drop") ? h.drop(name) : h.detach(name));
        };

        h.script.clear();
        h.script.answer(Reply::No);
        press();
        QCOMPARE(h.script.seen.size(), 1);
        const QString asked = h.script.last().text;
        QVERIFY2(
            asked.contains(
                QStringLiteral("Базою даних %1 зараз користуються інші з'єднання (1):\n• sa (").arg(name)),
            qPrintable(asked));
        QVERIFY2(asked.contains(QStringLiteral("%1 базу даних %2, розірвавши").arg(verb, name)),
                 qPrintable(asked));
        QVERIFY(h.databases().contains(name));
        QVERIFY(!holder.c.closedByServerWithin(200));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("SINGLE_USER")));

        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        press();
        QVERIFY(holder.c.closedByServerWithin(1000));
        QVERIFY2(h.databases().contains(name) == (operation == QLatin1String("attach")),
                 qPrintable(h.script.texts().join('\n')));
        QCOMPARE(QFile::exists(folder + "/s.mdf"), operation != QLatin1String("drop")); // only a drop deletes
        if (operation == QLatin1String("attach")) // the older files keep the mode that put the others out
            QVERIFY2(h.script.last().text.contains(
                         QStringLiteral("Файли попередньої бази даних %1 від'єднано в однокористувацькому").arg(name)),
                     qPrintable(h.script.last().text));
    }

    // The SINGLE_USER that put the others out stays in the detached files: the detach says so, and
    // the attach of those files names the mode and the statement that opens the database to all.
    // Zelvaro leaves the mode as it is; an attach of files in MULTI_USER has no such line.
    void singleUserFilesAreToldOfAtAttach() {
        WindowHarness h(2019);
        const QString name = QStringLiteral("Склад' 1]");
        const QString folder = h.folder(QStringLiteral("db"));
        QVERIFY(h.makeDatabase(name, folder + "/s.mdf", folder + "/s_log.ldf", false));
        Holder holder(h.server, name);
        QVERIFY(h.connect());
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        QVERIFY(h.detach(name));
        QVERIFY(holder.c.closedByServerWithin(1000));
        QVERIFY(!h.databases().contains(name));
        QCOMPARE(h.script.seen.size(), 2);
        QCOMPARE(h.script.last().type, DialogType::Information);
        const QString detached = h.script.last().text;
        QVERIFY2(detached.contains(QStringLiteral("однокористувацькому режимі (SINGLE_USER)")), qPrintable(detached));

        h.script.clear();
        h.script.answer(Reply::OK);
        h.attach(name, folder + "/s.mdf", folder + "/s_log.ldf");
        const QString attached = h.script.texts().join('\n');
        QVERIFY2(attached.startsWith(QStringLiteral("База даних %1 успішно приєднана із файлу ").arg(name)),
                 qPrintable(attached));
        QVERIFY2(attached.contains(QStringLiteral("однокористувацькому режимі (SINGLE_USER)")), qPrintable(attached));
        QVERIFY2(attached.contains(QStringLiteral("ALTER DATABASE [Склад' 1]]] SET MULTI_USER")), qPrintable(attached));
        QVERIFY(userAccess(h, name).contains(QLatin1String("SINGLE_USER"))); // left as the files had it

        // Opened to all and detached with nobody inside: the plain texts, no word of the mode.
        h.sql(QStringLiteral("ALTER DATABASE %1 SET MULTI_USER").arg(sqlquote::name(name)));
        h.script.clear();
        h.script.answer(Reply::Yes);
        QVERIFY(h.detach(name));
        QCOMPARE(h.script.seen.size(), 1);
        h.script.clear();
        h.script.answer(Reply::OK);
        h.attach(name, folder + "/s.mdf", folder + "/s_log.ldf");
        QCOMPARE(h.script.texts().join('\n'),
                 QStringLiteral("База даних %1 успішно приєднана із файлу %2/s.mdf").arg(name, folder));
    }

    // The window closed while SET SINGLE_USER waits for the server: the detach is never sent, the
    // window waits for the database to be opened to everybody again, then closes without a word.
    void closingWhileSingleUserWaitsOpensTheDatabaseAgain() {
        WindowHarness h(2019, {QStringLiteral("--slow"), QStringLiteral("700")});
        h.sql(QStringLiteral("CREATE DATABASE Old"));
        Holder holder(h.server, QStringLiteral("Old"));
        QVERIFY(h.connect());
        modal::setProgressWatcher([&h](ProgressDialog&) {
            if (h.server.receivedStatements().contains(QLatin1String("SET SINGLE_USER")))
                QTimer::singleShot(0, h.window.get(), [&h] { h.window->close(); });
        });
        h.script.clear();
        h.script.answer(Reply::Yes);
        QVERIFY(h.detach(QStringLiteral("Old")));
        modal::setProgressWatcher(nullptr);
        QTRY_VERIFY(!h.window->isVisible());
        QCOMPARE(h.script.seen.size(), 1); // the question alone
        const QString sent = h.server.receivedStatements();
        QVERIFY(!sent.contains(QLatin1String("sp_detach_db")));
        QCOMPARE(sent.split(QStringLiteral("--- end of batch ---")).at(sent.count(QLatin1String("--- end")) - 1).trimmed(),
                 QStringLiteral("ALTER DATABASE [Old] SET MULTI_USER"));
        QVERIFY2(userAccess(h, QStringLiteral("Old")).contains(QLatin1String("MULTI_USER")),
                 qPrintable(userAccess(h, QStringLiteral("Old"))));
    }

    // An attach over a database the others were put out of, cancelled: the older database is attached
    // again open to everybody, as it was, not left to one connection by the mode its files kept.
    void aCancelledAttachOverOthersPutsTheOlderBackForEveryone() {
        WindowHarness h(2019, {QStringLiteral("--slow-changes"), QStringLiteral("1500")});
        const QString folder = h.folder(QStringLiteral("db"));
        QVERIFY(h.makeDatabase(QStringLiteral("Old"), folder + "/o.mdf", folder + "/o_log.ldf", false));
        QVERIFY(h.makeDatabase(QStringLiteral("New"), folder + "/n.mdf", folder + "/n_log.ldf", true));
        Holder holder(h.server, QStringLiteral("Old"));
        QVERIFY(h.connect());
        // Only the attach is cancelled: the waits for the SINGLE_USER and the detach run out.
        modal::setProgressWatcher([](ProgressDialog& d) {
            if (d.line().startsWith(QStringLiteral("Приєднання бази даних")))
                QTimer::singleShot(400, &d, [&d] { d.cancelButton()->click(); });
        });
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.attach(QStringLiteral("Old"), folder + "/n.mdf", folder + "/n_log.ldf");
        modal::setProgressWatcher(nullptr);
        const QString told = h.script.texts().join('\n');
        QVERIFY2(told.contains(QStringLiteral("Попередню базу даних Old приєднано знову.")), qPrintable(told));
        QVERIFY(h.databases().contains(QStringLiteral("Old")));
        QVERIFY2(userAccess(h, QStringLiteral("Old")).contains(QLatin1String("MULTI_USER")),
                 qPrintable(userAccess(h, QStringLiteral("Old"))));
    }

    // Files of a newer server, and 2000's on 2012 and later: refused before anything is sent, both
    // versions named; the files stay as they were.
    void filesTheServerCannotOpenAreRefused_data() {
        QTest::addColumn<int>("server");
        QTest::addColumn<int>("files");
        QTest::addColumn<QString>("told");
        QTest::newRow("newer")
            << 2016 << 2019
            << "записав SQL Server 2019 (версія файлів 904), а сервер %1 — це SQL Server 2016 (версія 852)";
        QTest::newRow("2000 on 2019")
            << 2019 << 2000
            << "записав SQL Server 2000 (версія файлів 539), а сервер %1 — це SQL Server 2019: він не вміє";
    }
    void filesTheServerCannotOpenAreRefused() {
        QFETCH(int, server);
        QFETCH(int, files);
        QFETCH(QString, told);
        WindowHarness h(server);
        const QString folder = h.folder(QStringLiteral("files"));
        filesOf(files, folder, QStringLiteral("N"));
        const auto before = snapshot(folder);
        QVERIFY(h.connect());
        h.script.clear();
        h.attach(QStringLiteral("N"), folder + "/N.mdf", folder + "/N_log.ldf");
        QCOMPARE(h.script.seen.size(), 1);
        QVERIFY2(h.script.last().text.contains(told.arg(h.server.dataSource())),
                 qPrintable(h.script.last().text));
        QVERIFY(h.script.last().text.endsWith(QStringLiteral("Серверу нічого не надіслано.")));
        QCOMPARE(attachesSent(h), 0);
        QCOMPARE(snapshot(folder), before);
        QVERIFY(h.window->connection().isOpen()); // nothing the server ends the link for was sent
    }

    // An older server's files: the upgrade in place is told and asked. No sends nothing; Yes
    // attaches a copy in the shared folder and leaves the originals as they were; Ignore attaches
    // the originals, which the server upgrades. The server runs as nobody, as mssql does.
    void olderFilesAreAskedAndACopyAttachedOnYes() {
        if (!DevServer::canRunAs())
            QSKIP("another account for the server needs root");
        WindowHarness h(2019);
        OpenFiles files(2016, QStringLiteral("Old"));
        const auto before = snapshot(files.folder);
        StandInAsNobody server;
        QVERIFY(server.start());
        h.serverName()->setText(server.dataSource());
        QVERIFY(h.connect());

        h.script.clear();
        h.script.answer(Reply::No);
        h.attach(QStringLiteral("Old"), files.mdf, files.ldf);
        QCOMPARE(h.script.seen.size(), 1);
        const QString asked = h.script.last().text;
        QVERIFY2(asked.startsWith(
                     QStringLiteral("Файли бази даних %1 записав SQL Server 2016 (версія файлів 852). Під "
                                    "час приєднання сервер %2 (SQL Server 2019) оновить їх на місці назавжди")
                         .arg(files.mdf, server.dataSource())),
                 qPrintable(asked));
        QVERIFY(!server.rows(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"))
                     .contains(QStringLiteral("Old")));
        QCOMPARE(snapshot(files.folder), before);

        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.attach(QStringLiteral("Old"), files.mdf, files.ldf);
        QVERIFY2(h.script.last().text.contains(
                     QStringLiteral("Приєднано копію файлів; файли %1 залишилися як були.").arg(files.mdf)),
                 qPrintable(h.script.texts().join('\n')));
        const QStringList placed = server.rows(
            QStringLiteral("SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'Old')"));
        QCOMPARE(placed.size(), 2);
        QVERIFY2(placed.first().startsWith(server.data.path() + QLatin1Char('/')),
                 qPrintable(placed.join(' ')));
        // Yes was asked with the copies' T-SQL, which is what was sent.
        for (const QString& file : placed)
            QVERIFY2(h.script.seen.first().statements.contains(sqlquote::literal(file)),
                     qPrintable(h.script.seen.first().statements));
        QCOMPARE(snapshot(files.folder), before);
        QCOMPARE(fileversion::ofPrimaryFile(h.window->query(), files.mdf), 852);
        server.run(QStringLiteral("DROP DATABASE Old")); // its copies go with it
        QVERIFY(!QFile::exists(placed.first()));

        h.script.clear();
        h.script.answer(msgdlg::resultOf(DialogButton::Ignore));
        h.script.answer(Reply::OK);
        h.attach(QStringLiteral("Old"), files.mdf, files.ldf);
        QVERIFY2(h.script.last().text.startsWith(
                     QStringLiteral("База даних Old успішно приєднана із файлу %1").arg(files.mdf)),
                 qPrintable(h.script.texts().join('\n')));
        server.run(QStringLiteral("EXEC sp_detach_db N'Old'"));
        QCOMPARE(fileversion::ofPrimaryFile(h.window->query(), files.mdf), 904);
    }

    // The link lost while a copy is attached: whether the server attached it nobody can tell, so
    // the copies stay where they are and are named.
    void copiesStayWhenTheOutcomeIsUnknown() {
        if (!DevServer::canRunAs())
            QSKIP("another account for the server needs root");
        WindowHarness h(2019);
        OpenFiles files(2016, QStringLiteral("Lost"));
        StandInAsNobody server;
        server.extra = {QStringLiteral("--slow-changes"), QStringLiteral("1000")};
        QVERIFY(server.start());
        h.serverName()->setText(server.dataSource());
        QVERIFY(h.connect());
        modal::setProgressWatcher([&server](ProgressDialog& d) {
            if (d.line().startsWith(QStringLiteral("Приєднання")))
                QTimer::singleShot(300, &d, [&server] { server.process.kill(); });
        });
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.attach(QStringLiteral("Lost"), files.mdf, files.ldf);
        modal::setProgressWatcher(nullptr);
        const QStringList left = QDir(server.data.path()).entryList({QStringLiteral("Lost*")}, QDir::Files);
        QCOMPARE(left.size(), 2);
        QVERIFY2(h.script.texts().join('|').contains(left.first()), qPrintable(h.script.texts().join('|')));
        for (const QString& f : left)
            QFile::remove(server.data.path() + QLatin1Char('/') + f);
    }

    // The copy needs room where it goes: a file larger than the free space is told with both sizes
    // before anything is copied or sent.
    void aCopyLargerThanTheRoomIsRefused() {
        if (!DevServer::canRunAs())
            QSKIP("another account for the server needs root");
        WindowHarness h(2019);
        OpenFiles files(2016, QStringLiteral("Big"));
        StandInAsNobody server;
        QVERIFY(server.start());
        const QString place = server.data.path(); // the server's own data folder
        struct statvfs vfs {};
        QVERIFY(::statvfs(QFile::encodeName(place).constData(), &vfs) == 0);
        QVERIFY(stretch(files.mdf, qint64(vfs.f_bavail) * qint64(vfs.f_frsize) + (qint64(1) << 30)));
        const QStringList copiesBefore = QDir(place).entryList(QDir::Files);
        h.serverName()->setText(server.dataSource());
        QVERIFY(h.connect());
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.attach(QStringLiteral("Big"), files.mdf, files.ldf);
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^Для копії файлів у теці %1/? потрібно \\d+ МБ, а вільно лише \\d+ МБ.\n"
                                    "Серверу нічого не надіслано.$")
                         .arg(place))
                     .match(h.script.last().text)
                     .hasMatch(),
                 qPrintable(h.script.texts().join('\n')));
        QVERIFY(!server.rows(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"))
                     .contains(QStringLiteral("Big")));
        QCOMPARE(QDir(place).entryList(QDir::Files), copiesBefore);
    }

    // Express caps a database's data: files above the cap are refused with both sizes before
    // anything is sent (a sparse data file stands for a large one).
    void dataAboveExpresssCapIsRefused() {
        WindowHarness h(2019, {QStringLiteral("--edition"), QStringLiteral("express")});
        const QString folder = h.folder(QStringLiteral("files"));
        QVERIFY(h.makeDatabase(QStringLiteral("Big"), folder + "/Big.mdf", folder + "/Big_log.ldf", true));
        QVERIFY(stretch(folder + "/Big.mdf", (qint64(10240) << 20) + (qint64(1) << 20)));
        QVERIFY(h.connect());
        h.script.clear();
        h.attach(QStringLiteral("Big"), folder + "/Big.mdf", folder + "/Big_log.ldf");
        QCOMPARE(h.script.last().text,
                 QStringLiteral(
                     "Сервер %1 — це Express Edition (64-bit): одна база даних може мати на ньому не більше "
                     "10240 МБ даних, а файли даних бази Big мають 10241 МБ. Сервер відмовив би (помилка "
                     "1827).\nСерверу нічого не надіслано.")
                     .arg(h.server.dataSource()));
        QCOMPARE(attachesSent(h), 0);
    }

    // The user's files in a folder closed to others (0700, as Debian makes a home), the server as
    // nobody: the attach is told before anything is sent and offered a copy in the shared folder.
    // No changes nothing; Yes attaches the copy — every file the primary file lists, a further
    // data file too; the folder's mode, its ACL and every file in it stay as they were.
    void closedFilesAreAttachedFromACopyOnYes() {
        if (!DevServer::canRunAs())
            QSKIP("another account for the server needs root");
        WindowHarness h(2019);
        const QString home = h.server.scratch(); // 0700, this test's own
        const QString downloads = h.folder(QStringLiteral("Downloads"));
        const QString mdf = downloads + QStringLiteral("/VTR.mdf"),
                      ldf = downloads + QStringLiteral("/VTR_log.ldf");
        const QString ndf = downloads + QStringLiteral("/VTR_extra.ndf");
        h.sql(QStringLiteral("CREATE DATABASE VTR ON (FILENAME = %1), (NAME = N'VTR_extra', FILENAME = %2) "
                             "LOG ON (FILENAME = %3)\nEXEC sp_detach_db N'VTR'")
                  .arg(sqlquote::literal(mdf), sqlquote::literal(ndf), sqlquote::literal(ldf)));
        QVERIFY(QFile::exists(ndf));
        const auto before = snapshot(home);
        const QStringList rightsBefore = {aclText(home), aclText(downloads), aclText(mdf), aclText(ldf)};
        const auto modeBefore = QFileInfo(home).permissions();
        StandInAsNobody server;
        QVERIFY(server.start());
        h.serverName()->setText(server.dataSource());
        QVERIFY(h.connect());
        const auto unchanged = [&] {
            QCOMPARE(snapshot(home), before);
            QCOMPARE(QFileInfo(home).permissions(), modeBefore);
            QCOMPARE((QStringList{aclText(home), aclText(downloads), aclText(mdf), aclText(ldf)}),
                     rightsBefore);
        };

        h.script.clear();
        h.script.answer(Reply::No);
        h.attach(QStringLiteral("VTR"), mdf, ldf);
        QCOMPARE(h.script.seen.size(), 1);
        const QString told = h.script.last().text;
        QVERIFY2(told.contains(QStringLiteral("не може прочитати файл %1").arg(mdf)), qPrintable(told));
        QVERIFY2(told.contains(QStringLiteral(
                     "Скопіювати файли бази даних у теку, яку бачать і ви, і сервер (nobody)")),
                 qPrintable(told));
        QVERIFY(!server.rows(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"))
                     .contains(QStringLiteral("VTR")));
        unchanged();

        // The further data file is named by the copy of the primary alone: the plan that copies it
        // too is shown and asked about before anything is sent.
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.attach(QStringLiteral("VTR"), mdf, ldf);
        QVERIFY2(h.script.texts().value(1).startsWith(
                     QStringLiteral("Файл %1 називає ще файли даних: %2.").arg(mdf, ndf)),
                 qPrintable(h.script.texts().join('\n')));
        QVERIFY2(h.script.last().text.startsWith(QStringLiteral("База даних VTR успішно приєднана")),
                 qPrintable(h.script.texts().join('\n')));
        const QStringList placed = server.rows(
            QStringLiteral("SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'VTR')"));
        QCOMPARE(placed.size(), 3);
        for (const QString& file : placed) {
            QVERIFY2(file.startsWith(server.data.path() + QLatin1Char('/')), qPrintable(placed.join(' ')));
            QVERIFY(h.script.seen[1].statements.contains(sqlquote::literal(file)));
        }
        QVERIFY(!h.script.seen[1].statements.contains(sqlquote::literal(mdf)));
        unchanged();
        server.run(QStringLiteral("DROP DATABASE VTR"));
    }

    // An attach without a log that went through stays a success when the read of the new log's
    // path fails after it (the server gone the moment the attach ended): the path is left out.
    void aFailedReadOfTheNewLogKeepsTheSuccess() {
        WindowHarness h(2019);
        const QString folder = h.folder(QStringLiteral("files"));
        QVERIFY(h.makeDatabase(QStringLiteral("Лог"), folder + "/l.mdf", folder + "/l.ldf", true));
        QVERIFY(QFile::remove(folder + "/l.ldf"));
        QVERIFY(h.connect());
        const qint64 server = h.server.processId();
        modal::setProgressWatcher([server](ProgressDialog& d) {
            QObject::connect(&d, &QObject::destroyed, [server] { ::kill(pid_t(server), SIGKILL); });
        });
        h.script.clear();
        h.script.answer(Reply::OK);
        h.attach(QStringLiteral("Лог"), folder + "/l.mdf", folder + "/l.ldf");
        modal::setProgressWatcher(nullptr);
        QCOMPARE(h.script.last().type, DialogType::Information);
        QCOMPARE(h.script.last().text,
                 QStringLiteral("База даних Лог успішно приєднана із файлу %1/l.mdf\nФайлу журналу "
                                "не було; сервер створив новий.")
                     .arg(folder));
    }

    // A server in a file system of its own (a container): the attach page's file buttons offer the
    // server's own files, and the file chosen there is attached as the server names it.
    void aServerInItsOwnRootOffersItsOwnFiles() {
        WindowHarness h(2019, DevServer::ownRoot());
        const QString data = QStringLiteral("/var/opt/mssql/data");
        h.sql(QStringLiteral(
                  "CREATE DATABASE Own ON (FILENAME = N'%1/Own.mdf') LOG ON (FILENAME = N'%1/Own_log.ldf')\n"
                  "EXEC sp_detach_db N'Own'")
                  .arg(data));
        QVERIFY(QFile::exists(h.server.hostPath(data + QStringLiteral("/Own.mdf"))));
        QVERIFY(h.connect());
        h.openPage(WindowHarness::ConnectPage);
        h.script.clear();
        h.script.choose(data + QStringLiteral("/Own.mdf"));
        h.pickMdfButton()->click();
        h.script.choose(data + QStringLiteral("/Own_log.ldf"));
        h.pickLdfButton()->click();
        QCOMPARE(h.script.seen.size(), 2);
        QCOMPARE(h.script.seen[0].kind, modal::Kind::ServerFile);
        QCOMPARE(h.script.seen[0].directory, data + QLatin1Char('/'));
        QCOMPARE(h.script.seen[1].kind, modal::Kind::ServerFile);
        QCOMPARE(h.attachMdf()->text(), data + QStringLiteral("/Own.mdf"));
        QCOMPARE(h.attachLdf()->text(), data + QStringLiteral("/Own_log.ldf"));
        h.script.answer(Reply::OK);
        h.attachName()->setText(QStringLiteral("Own"));
        h.attachButton()->click();
        QVERIFY2(h.script.last().text.startsWith(QStringLiteral("База даних Own успішно приєднана")),
                 qPrintable(h.script.texts().join('\n')));
    }
};

QTEST_MAIN(WhatStopsAttach)
#include "tst_what_stops_attach.moc"
