// The stand-in started as somebody else through DevServer's options, as flow tests start it: as
// its own account, in a file system of its own, playing Windows; hostPath finds its files.
#include "DevServer.h"

#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>

class ServerWorlds : public QObject {
    Q_OBJECT
private slots:
    void worlds_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("dataPath"); // SERVERPROPERTY('InstanceDefaultDataPath')
        QTest::addColumn<QString>("mdf");      // where CREATE DATABASE W puts its data file
        QTest::newRow("own root") << DevServer::ownRoot() << QStringLiteral("/var/opt/mssql/data/")
                                  << QStringLiteral("/var/opt/mssql/data/W.mdf");
        QTest::newRow("drive C") << DevServer::windowsDrive() << QStringLiteral("C:\\SQLData\\")
                                 << QStringLiteral("C:\\SQLData\\W.mdf");
        if (DevServer::canRunAs())
            QTest::newRow("nobody in its own root") << DevServer::runAs() + DevServer::ownRoot()
                                                    << QStringLiteral("/var/opt/mssql/data/")
                                                    << QStringLiteral("/var/opt/mssql/data/W.mdf");
    }
    void worlds() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, dataPath);
        QFETCH(QString, mdf);
        DevServer server(2019, arguments);
        QVERIFY(server.isRunning());
        const QString out = server.tsql(QStringLiteral(
            "CREATE DATABASE W\nSELECT SERVERPROPERTY('InstanceDefaultDataPath')\n"
            "SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'W')"));
        QVERIFY2(out.contains(dataPath) && out.contains(mdf), qPrintable(out));
        QVERIFY2(!out.contains(server.dataDir()), qPrintable(out)); // no host path leaks out
        const QFileInfo file(server.hostPath(mdf));
        QVERIFY2(file.isFile(), qPrintable(file.filePath()));
        if (arguments.contains(QStringLiteral("--run-as"))) {
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(file.filePath()).constData(), &st), 0);
            QVERIFY(st.st_uid != 0); // created by the account, not by root
        }
    }
};

QTEST_GUILESS_MAIN(ServerWorlds)
#include "tst_server_worlds.moc"
